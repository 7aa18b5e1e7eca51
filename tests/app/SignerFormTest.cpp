// The form model: options in and out, the enable rule, a chosen certificate
// and the starting folders of the browse dialogs.
#include "app/core/SignerForm.h"

#include <gtest/gtest.h>

#include "tests/app/AppTestSupport.h"

namespace tavra {
namespace {

TEST(SignerForm, OptionsRoundTripThroughTheFormAsTheyStand) {
  TPdfSignerOptions in;
  in.CertIssuer = " Test CA ";
  in.CertSerial = "0a1b";
  in.CertCommonName = "Jan Novák";
  in.SigReason = "  Svým podpisem tohoto dokumentu souhlasím s uvedenými podmínkami ";
  in.SigType = 2;
  TSignerForm form;
  form.SignedPDF = "/keep/in.pdf";
  OptionsToForm(in, form);
  EXPECT_EQ(form.SignedPDF, "/keep/in.pdf");
  EXPECT_EQ(form.SignatureTypeIndex, 2);
  TPdfSignerOptions out;
  FormToOptions(form, out);
  EXPECT_EQ(out.CertIssuer, in.CertIssuer);
  EXPECT_EQ(out.CertSerial, in.CertSerial);
  EXPECT_EQ(out.CertCommonName, in.CertCommonName);
  EXPECT_EQ(out.SigReason, in.SigReason);
  EXPECT_EQ(out.SigType, 2);
}

// The picture and the font go from the settings file through the form into
// the request and back; absent when empty, so a file without them is kept
// byte for byte.
TEST(SignerForm, PictureAndFontRoundTripThroughTheSettingsFile) {
  tavra_test::ScratchDir dir;
  const std::string plain = "[options]\r\nsigtype=1\r\n";
  const std::string path = dir.Write("s.ini", plain);
  TPdfSignerOptions options;
  ReadOptions(path, options);
  TSignerForm form;
  OptionsToForm(options, form);
  EXPECT_TRUE(SigningRequestOf(form).ImagePath.empty());
  FormToOptions(form, options);
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), plain);

  dir.Write("s.ini", plain + "imagefile=/obr/razítko.png\r\nfontfile=/p/f.ttf\r\n");
  ReadOptions(path, options);
  OptionsToForm(options, form);
  const TSigningRequest request = SigningRequestOf(form);
  EXPECT_EQ(request.ImagePath, "/obr/razítko.png");
  EXPECT_EQ(request.FontPath, "/p/f.ttf");
  form.ImageFile = "/jiný.jpg";
  FormToOptions(form, options);
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), plain + "imagefile=/jiný.jpg\r\nfontfile=/p/f.ttf\r\n");
  form.ImageFile.clear();
  form.FontFile.clear();
  FormToOptions(form, options);
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), plain);
}

// Level and authority: the settings' texts in and out, and the request the
// Sign action makes of them.
TEST(SignerForm, LevelAndAuthorityMakeTheRequest) {
  TPdfSignerOptions in;
  in.Level = "B-T";
  in.TSA = "http://127.0.0.1:9/tsa";
  in.TSAUser = "signer";
  in.UsePSS = true;
  TSignerForm form;
  OptionsToForm(in, form);
  EXPECT_EQ(form.LevelIndex, 2);
  TPdfSignerOptions out;
  FormToOptions(form, out);
  EXPECT_EQ(out.Level, "B-T");
  EXPECT_EQ(out.TSA, in.TSA);
  EXPECT_EQ(out.TSAUser, "signer");
  EXPECT_TRUE(out.UsePSS);

  TSigningRequest request = SigningRequestOf(form);
  EXPECT_EQ(request.Level, TPAdESLevel::plBT);
  EXPECT_EQ(request.Timestamp.URL, in.TSA);
  EXPECT_EQ(request.Timestamp.User, "signer");
  // The basic level stamps its signature when an authority is named; B-B never.
  form.LevelIndex = 0;
  request = SigningRequestOf(form);
  EXPECT_EQ(request.Level, TPAdESLevel::plNone);
  EXPECT_EQ(request.Timestamp.URL, in.TSA);
  form.LevelIndex = 1;
  EXPECT_TRUE(SigningRequestOf(form).Timestamp.URL.empty());

  form.LevelIndex = 2;
  form.TSA = "  ";
  EXPECT_THROW(
      {
        try {
          SigningRequestOf(form);
        } catch (const std::exception& e) {
          EXPECT_STREQ(e.what(), kMsgNoTSA);
          throw;
        }
      },
      std::exception);
  // The long-term levels round-trip and need an authority, as B-T does.
  in.Level = "B-LTA";
  in.TSA = "http://127.0.0.1:9/tsa";
  OptionsToForm(in, form);
  EXPECT_EQ(form.LevelIndex, 4);
  EXPECT_STREQ(kLevelNames[form.LevelIndex], "PAdES B-LTA");
  request = SigningRequestOf(form);
  EXPECT_EQ(request.Level, TPAdESLevel::plBLTA);
  EXPECT_EQ(request.Timestamp.URL, "http://127.0.0.1:9/tsa");
  FormToOptions(form, out);
  EXPECT_EQ(out.Level, "B-LTA");
  form.TSA.clear();
  form.LevelIndex = 3;
  try {
    SigningRequestOf(form);
    ADD_FAILURE() << "B-LT without an authority was accepted";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Pro úroveň PAdES B-LT není zadáno časové razítko (URL)");
  }
  // A level the window does not know (a file edited by hand) selects nothing
  // and signs nothing.
  in.Level = "B-C";
  OptionsToForm(in, form);
  EXPECT_EQ(form.LevelIndex, -1);
  EXPECT_THROW(SigningRequestOf(form), std::exception);
  // Absent keys: today's signature, no authority.
  OptionsToForm(TPdfSignerOptions{}, form);
  request = SigningRequestOf(form);
  EXPECT_EQ(request.Level, TPAdESLevel::plNone);
  EXPECT_TRUE(request.Timestamp.URL.empty());
}

TEST(SignerForm, EmptySelectionIsSigType255) {
  TSignerForm form;
  form.SignatureTypeIndex = -1;
  TPdfSignerOptions out;
  FormToOptions(form, out);
  EXPECT_EQ(out.SigType, 255);
  // And back: no item has that index.
  OptionsToForm(out, form);
  EXPECT_EQ(form.SignatureTypeIndex, -1);
}

TEST(SignerForm, EnableRuleNeedsTheFourFieldsUntrimmed) {
  TSignerForm form;
  form.SignedPDF = "a";
  form.TargetPDF = "b";
  form.CertIssuerName = "c";
  form.CertSerialNumber = "d";
  EXPECT_TRUE(SignActionEnabled(form));
  form.CertCommonName.clear();
  form.SigReason.clear();
  form.SignatureTypeIndex = -1;
  EXPECT_TRUE(SignActionEnabled(form));
  form.TargetPDF = " ";  // blanks count as content here
  EXPECT_TRUE(SignActionEnabled(form));
  for (std::string TSignerForm::*field :
       {&TSignerForm::SignedPDF, &TSignerForm::TargetPDF, &TSignerForm::CertIssuerName,
        &TSignerForm::CertSerialNumber}) {
    TSignerForm f = form;
    f.*field = "";
    EXPECT_FALSE(SignActionEnabled(f));
  }
}

TEST(SignerForm, ChosenCertificateFillsTheThreeFields) {
  tavra_test::FakeCertificate cert("Česká autorita \xFF", std::string("\x90\x00", 2), "Jan Novák");
  TSignerForm form;
  form.SigReason = "keep";
  CertificateToForm(cert, form);
  EXPECT_EQ(form.CertIssuerName, "Česká autorita ?");
  EXPECT_EQ(form.CertSerialNumber, "009000");
  EXPECT_EQ(form.CertCommonName, "Jan Novák");
  EXPECT_EQ(form.SigReason, "keep");
}

TEST(SignerForm, OpenDialogStartsInTheFolderOfAnExistingInput) {
  tavra_test::ScratchDir dir;
  const std::string file = dir.Write("in.pdf", "x");
  EXPECT_EQ(OpenDialogStartFolder(file), dir.Path());
  EXPECT_EQ(OpenDialogStartFolder(dir.File("missing.pdf")), "");
  EXPECT_EQ(OpenDialogStartFolder(dir.Path()), "");  // a folder is not a file
  EXPECT_EQ(OpenDialogStartFolder(""), "");
}

TEST(SignerForm, SaveDialogStartsInAnExistingOutputFolder) {
  tavra_test::ScratchDir dir;
  EXPECT_EQ(SaveDialogStartFolder(dir.File("out.pdf")), dir.Path());  // file need not exist
  EXPECT_EQ(SaveDialogStartFolder(dir.Path() + "/"), dir.Path());
  EXPECT_EQ(SaveDialogStartFolder(dir.Path() + "//x.pdf"), dir.Path());
  EXPECT_EQ(SaveDialogStartFolder(dir.File("missing/out.pdf")), "");
  EXPECT_EQ(SaveDialogStartFolder("out.pdf"), "");
  EXPECT_EQ(SaveDialogStartFolder("/out.pdf"), "/");
  EXPECT_EQ(SaveDialogStartFolder(""), "");
}

}  // namespace
}  // namespace tavra
