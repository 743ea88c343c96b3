#include "firmware/firmware_requirements.h"

#include <SimpleIni.h>

#include <type_traits>

#include "support/fields.h"
#include "firmware/executable_path.h"

namespace OpenPlotr {

namespace {

// CSimpleIniW's character is wchar_t on Windows and ICU's UChar elsewhere: 16 bits on both.
using IniChar = std::remove_cv_t<std::remove_pointer_t<decltype(CSimpleIniW::Entry::pItem)>>;
static_assert(sizeof(IniChar) == sizeof(char16_t));

const IniChar *Ini(const char16_t *text) { return reinterpret_cast<const IniChar *>(text); }
const char16_t *Wide(const IniChar *text) { return reinterpret_cast<const char16_t *>(text); }

constexpr char16_t kSection[] = u"required";
constexpr char16_t kKey[] = u"lcrev";

}  // namespace

struct FirmwareRequirements::Document {
  CSimpleIniW ini;
};

FirmwareRequirements::FirmwareRequirements() {
  const std::u16string path = DefaultPath();
  if (!path.empty() && Load(path)) requiredRevision = ReadRequiredRevision();
}

FirmwareRequirements::FirmwareRequirements(const std::u16string &path) {
  if (Load(path)) requiredRevision = ReadRequiredRevision();
}

FirmwareRequirements::~FirmwareRequirements() = default;

std::u16string FirmwareRequirements::DefaultPath() {
  std::u16string executable;
  if (!HostExecutablePath(executable)) return {};
  std::size_t cut = executable.size();
  while (cut > 0 && !IsPathSeparator(executable[cut - 1])) --cut;
  std::u16string path = executable.substr(0, cut);
  path += u"Devices";
  path += PreferredSeparator();
  path += u"VornFirmwareVer.ini";
  // A path the system's buffers cannot hold counts as no file.
  if (path.size() + 1 > MaxHostPath()) return {};
  return path;
}

bool FirmwareRequirements::Load(const std::u16string &path) {
  if (loaded) return true;
  document = std::make_unique<Document>();
  document->ini.SetMultiLine(true);
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  // The file is read in the ANSI code page: a UTF-8 signature is not special and
  // stays part of the first line. The parser would take a signature at offset 0
  // as a switch to UTF-8, so the text is handed over behind an empty line.
  bytes.insert(bytes.begin(), '\n');
  loaded = document->ini.LoadData(bytes.data(), bytes.size()) == SI_OK;
  return loaded;
}

std::int32_t FirmwareRequirements::ReadRequiredRevision() const {
  CSimpleIniW::TNamesDepend keys;
  document->ini.GetAllKeys(Ini(kSection), keys);
  bool found = false;
  std::u16string revisionText;
  for (const auto &entry : keys) {
    std::u16string key(Wide(entry.pItem));
    for (char16_t &c : key) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    const IniChar *value = document->ini.GetValue(Ini(kSection), entry.pItem, nullptr);
    if (key == kKey && value) {
      revisionText = Wide(value);
      found = true;
    }
  }
  return found ? RevisionFromText(revisionText) : 1;
}

bool ReadWholeFile(const std::u16string &path, std::string &bytes) {
  std::FILE *file = OpenForReading(path);
  if (!file) return false;
  bytes.clear();
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

std::int32_t RevisionFromText(const std::u16string &text) { return TruncateToRevision(ReadNumber(text)); }

}  // namespace OpenPlotr
