// Dictionary helpers and the object factories of the file.
#include "toolkit/pdf/CvPDFCore.h"

namespace corvane {

namespace {

[[noreturn]] void Missing() { throw EOvPDFSilentError(""); }

}  // namespace

TOvPDFObject* GetEntry(const TOvPDFDictionary* dict, std::string_view key) {
  if (!dict) return nullptr;
  const int64_t index = dict->IndexOfKey(key);
  return index < 0 ? nullptr : dict->Items()[static_cast<size_t>(index)].Object;
}

TOvPDFObject* ResolveValue(TOvPDFObject* obj) {
  if (auto* ref = dynamic_cast<TOvPDFRef*>(obj)) {
    TOvPDFIndirect* target = ref->Resolve();
    return target ? target->Value : nullptr;
  }
  return obj;
}

TOvPDFObject* GetResolvedEntry(const TOvPDFDictionary* dict, std::string_view key) {
  return ResolveValue(GetEntry(dict, key));
}

void SetEntry(TOvPDFDictionary* dict, std::string_view key, TOvPDFObject* obj) {
  const int64_t index = dict->IndexOfKey(key);
  if (index >= 0) {
    dict->SetItem(obj, static_cast<size_t>(index));
  } else {
    dict->AddEntry(key, obj);
  }
}

void RemoveEntry(TOvPDFDictionary* dict, std::string_view key) {
  const int64_t index = dict->IndexOfKey(key);
  if (index >= 0) dict->RemoveItemAt(static_cast<size_t>(index));
}

std::string GetNameEntry(const TOvPDFDictionary* dict, std::string_view key,
                         std::string_view defaultValue, bool required) {
  if (auto* name = dynamic_cast<TOvPDFName*>(GetResolvedEntry(dict, key))) return name->GetName();
  if (required) Missing();
  return std::string(defaultValue);
}

int32_t GetIntEntry(const TOvPDFDictionary* dict, std::string_view key, int32_t defaultValue,
                    bool required) {
  if (auto* number = dynamic_cast<TOvPDFReal*>(GetResolvedEntry(dict, key))) return number->AsInt();
  if (required) Missing();
  return defaultValue;
}

int64_t GetInt64Entry(const TOvPDFDictionary* dict, std::string_view key, int64_t defaultValue,
                      bool required) {
  if (auto* number = dynamic_cast<TOvPDFReal*>(GetResolvedEntry(dict, key))) {
    return number->AsInt64();
  }
  if (required) Missing();
  return defaultValue;
}

double GetRealEntry(const TOvPDFDictionary* dict, std::string_view key, bool required,
                    double defaultValue) {
  if (auto* number = dynamic_cast<TOvPDFReal*>(GetEntry(dict, key))) return number->GetValue();
  if (required) Missing();
  return defaultValue;
}

std::string GetStringEntry(const TOvPDFDictionary* dict, std::string_view key, bool required) {
  if (auto* text = dynamic_cast<TOvPDFString*>(GetResolvedEntry(dict, key))) return text->GetText();
  if (required) Missing();
  return {};
}

TOvPDFArray* GetArrayEntry(const TOvPDFDictionary* dict, std::string_view key, bool required) {
  if (auto* array = dynamic_cast<TOvPDFArray*>(GetResolvedEntry(dict, key))) return array;
  if (required) Missing();
  return nullptr;
}

TOvPDFDictionary* GetDictEntry(const TOvPDFDictionary* dict, std::string_view key, bool required) {
  if (auto* value = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(dict, key))) return value;
  if (required) Missing();
  return nullptr;
}

bool GetBoolEntry(const TOvPDFDictionary* dict, std::string_view key, bool defaultValue,
                  bool required) {
  if (auto* value = dynamic_cast<TOvPDFBoolean*>(GetEntry(dict, key))) return value->GetBool();
  if (required) Missing();
  return defaultValue;
}

TOvPDFReal* AddIntEntry(TOvPDFDictionary* dict, std::string_view key, int64_t n) {
  TOvPDFReal* number = dict->Owner()->NewInt(n);
  dict->AddEntry(key, number);
  return number;
}

void SetIntEntry(TOvPDFDictionary* dict, std::string_view key, int64_t n, bool inPlace) {
  if (inPlace) {
    if (auto* number = dynamic_cast<TOvPDFReal*>(GetResolvedEntry(dict, key))) {
      number->SetInt(n);
      if (number->Parent()) number->Parent()->Rebuild();
      dict->Rebuild();
      return;
    }
  }
  AddIntEntry(dict, key, n);
}

TOvPDFString* AddStringEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view bytes,
                             uint8_t kind) {
  TOvPDFString* text = dict->Owner()->NewString(bytes, kind);
  dict->AddEntry(key, text);
  return text;
}

void SetStringEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view text,
                    bool inPlace, uint8_t kind) {
  if (inPlace) {
    if (auto* value = dynamic_cast<TOvPDFString*>(GetResolvedEntry(dict, key))) {
      value->Kind = kind;
      value->SetText(text);
      if (value->Parent()) value->Parent()->Rebuild();
      dict->Rebuild();
      return;
    }
  }
  AddStringEntry(dict, key, text, kind);
}

TOvPDFName* AddNameEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view name) {
  TOvPDFName* value = dict->Owner()->NewName(name);
  dict->AddEntry(key, value);
  return value;
}

void SetNameEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view name,
                  bool inPlace) {
  if (inPlace) {
    if (auto* value = dynamic_cast<TOvPDFName*>(GetResolvedEntry(dict, key))) {
      value->SetName(name);
      if (value->Parent()) value->Parent()->Rebuild();
      dict->Rebuild();
      return;
    }
  }
  AddNameEntry(dict, key, name);
}

TOvPDFArray* AddRectEntry(TOvPDFDictionary* dict, std::string_view key, int64_t a, int64_t b,
                          int64_t c, int64_t d) {
  TOvPDFFile* file = dict->Owner();
  TOvPDFArray* rect = file->NewArray();
  for (const int64_t v : {a, b, c, d}) rect->AddItem(file->NewInt(v));
  rect->SetModified(true);
  dict->AddEntry(key, rect);
  return rect;
}

void AddRefEntry(TOvPDFDictionary* dict, std::string_view key, TOvPDFRef* ref) {
  dict->AddEntry(key, ref);
}

void SetRefEntry(TOvPDFDictionary* dict, std::string_view key, TOvPDFRef* ref, bool replace) {
  if (replace) {
    SetEntry(dict, key, ref);
  } else {
    AddRefEntry(dict, key, ref);
  }
}

void AppendReal(TOvPDFArray* array, double x) {
  array->AddItem(array->Owner()->NewReal(x));
  array->SetModified(true);
}

void AppendInt(TOvPDFArray* array, int64_t n) {
  array->AddItem(array->Owner()->NewInt(n));
  array->SetModified(true);
}

void AppendName(TOvPDFArray* array, std::string_view name) {
  array->AddItem(array->Owner()->NewName(name));
  array->SetModified(true);
}

void AppendString(TOvPDFArray* array, std::string_view bytes, uint8_t kind) {
  array->AddItem(array->Owner()->NewString(bytes, kind));
}

// --- factories --------------------------------------------------------------------

TOvPDFNull* TOvPDFFile::NewNull() { return NewObject<TOvPDFNull>(); }

TOvPDFBoolean* TOvPDFFile::NewBoolean(bool value) {
  auto* obj = NewObject<TOvPDFBoolean>();
  obj->SetBool(value);
  return obj;
}

TOvPDFReal* TOvPDFFile::NewInt(int64_t value) {
  auto* obj = NewObject<TOvPDFReal>();
  obj->Data = std::to_string(value);
  return obj;
}

TOvPDFReal* TOvPDFFile::NewReal(double value) {
  auto* obj = NewObject<TOvPDFReal>();
  obj->Data = TOvPDFReal::FormatReal(value);
  return obj;
}

TOvPDFName* TOvPDFFile::NewName(std::string_view name) {
  auto* obj = NewObject<TOvPDFName>();
  obj->SetName(name);
  return obj;
}

TOvPDFString* TOvPDFFile::NewString(std::string_view bytes, uint8_t kind) {
  auto* obj = NewObject<TOvPDFString>();
  obj->Kind = kind;
  obj->SetText(bytes);
  return obj;
}

TOvPDFArray* TOvPDFFile::NewArray() {
  auto* array = NewObject<TOvPDFArray>();
  array->Rebuild();
  return array;
}

TOvPDFDictionary* TOvPDFFile::NewDictionary() {
  auto* dict = NewObject<TOvPDFDictionary>();
  dict->Rebuild();
  return dict;
}

TOvPDFRef* TOvPDFFile::NewRef(int32_t number, int32_t generation) {
  auto* ref = NewObject<TOvPDFRef>();
  ref->SetTarget(number, generation);
  return ref;
}

TOvPDFIndirect* TOvPDFFile::NewIndirect(int32_t number, int32_t generation, TOvPDFObject* value) {
  auto* indirect = NewObject<TOvPDFIndirect>();
  indirect->Number = number;
  indirect->Generation = generation;
  indirect->Value = value;
  if (value) value->parent_ = indirect;
  auto* stream = dynamic_cast<TOvPDFStream*>(value);
  if (!stream || stream->InMemory) indirect->Rebuild();
  return indirect;
}

}  // namespace corvane
