// How the application tells the user about outcomes. Which of the ways a
// message takes is part of the behaviour, so the core names it explicitly and
// the windows (or a test) decide how each way looks.
#pragma once

#include <string>

namespace tavra {

class ISignerReporter {
 public:
  virtual ~ISignerReporter() = default;

  // The application-wide error display: errors that leave an action. Captioned
  // with the application title; the text gets ApplicationErrorText's full stop.
  virtual void ShowApplicationError(const std::string& text) = 0;
  // Message boxes of the signing workflow: error icon and caption "Error".
  virtual void ShowWorkflowError(const std::string& text) = 0;
  // Success of the workflow: information icon and caption "Information".
  virtual void ShowWorkflowInformation(const std::string& text) = 0;
  // A command-line path that does not exist, before any window is created;
  // the same box as ShowWorkflowError.
  virtual void ShowStartupError(const std::string& text) = 0;
  // A plain message box ("hotovo").
  virtual void ShowPlainMessage(const std::string& text) = 0;
  // A passing line while a run goes on (validation data being fetched);
  // nothing to confirm. Ignored unless a reporter shows it.
  virtual void ShowProgressLine(const std::string& text) { (void)text; }
};

// The text the application-wide error display shows: a full stop is appended
// unless the text is empty or its last character is "." or coded below it.
std::string ApplicationErrorText(const std::string& text);

// The application title: the executable's file name without its extension.
std::string ApplicationTitle(const std::string& executablePath);

}  // namespace tavra
