#include "support/code_page_system.h"

#include <langinfo.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support/code_page_names.h"

namespace QVX {

namespace {

constexpr const char *kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Opening a converter costs far more than a short conversion, so the ones used
// are kept; they close when the library is unloaded.
class ConverterCache {
 public:
  void Clear() {
    for (Entry &entry : entries_) iconv_close(entry.converter);
    std::vector<Entry>().swap(entries_);
  }

  iconv_t Get(const std::string &charset, bool toNarrow) {
    for (Entry &entry : entries_)
      if (entry.toNarrow == toNarrow && entry.charset == charset) return entry.converter;
    iconv_t converter = toNarrow ? iconv_open(charset.c_str(), kUtf16) : iconv_open(kUtf16, charset.c_str());
    if (converter == kNoConverter) return kNoConverter;
    entries_.push_back({charset, toNarrow, converter});
    return converter;
  }

 private:
  struct Entry {
    std::string charset;
    bool toNarrow;
    iconv_t converter;
  };
  std::vector<Entry> entries_;
};

// One cache for the process, used under its lock (a converter keeps state while it
// runs). Not one per thread: a thread_local with a destructor keeps the library
// loaded past dlclose while any thread that converted lives, and then unloading it
// would not close the sessions.
struct SharedConverters {
  std::mutex lock;
  ConverterCache cache;
};

// Never destroyed, and emptied by the unload alone: at the process's exit a host
// thread may still be converting a reply.
union ConverterStorage {
  SharedConverters shared;
  ConverterStorage() : shared() {}
  ~ConverterStorage() {}
};

SharedConverters &Converters() {
  static ConverterStorage storage;
  return storage.shared;
}

bool CharsetOf(std::uint32_t codePage, std::string &charset) {
  // ANSI and OEM are one thing here: the character set of the thread's locale.
  if (codePage == 0 || codePage == 1 || codePage == 3) {
    charset = nl_langinfo(CODESET);
    return !charset.empty();
  }
  const char *name = CharsetName(codePage);
  if (!name) return false;
  charset = name;
  return true;
}

// Runs iconv over all of input; what the other side cannot take becomes
// replacement and the input moves on by step bytes, as the Windows converters do.
void Convert(iconv_t converter, const char *input, std::size_t size, std::string &out, std::string_view replacement,
             std::size_t step) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  out.clear();
  char buffer[1024];
  auto *in = const_cast<char *>(input);
  std::size_t inLeft = size;
  while (inLeft > 0) {
    char *dest = buffer;
    std::size_t destLeft = sizeof buffer;
    std::size_t result = iconv(converter, &in, &inLeft, &dest, &destLeft);
    out.append(buffer, static_cast<std::size_t>(dest - buffer));
    if (result != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: an unmappable or broken unit.
    out.append(replacement);
    std::size_t skip = std::min(step, inLeft);
    in += skip;
    inLeft -= skip;
  }
  char *dest = buffer;
  std::size_t destLeft = sizeof buffer;
  iconv(converter, nullptr, nullptr, &dest, &destLeft);
  out.append(buffer, static_cast<std::size_t>(dest - buffer));
}

}  // namespace

void PrepareSystemConverters() { Converters(); }

void ReleaseSystemConverters() {
  SharedConverters &shared = Converters();
  std::lock_guard<std::mutex> hold(shared.lock);
  shared.cache.Clear();
}

bool SystemEncode(std::u16string_view text, std::uint32_t codePage, std::string &out) {
  std::string charset;
  if (text.empty() || !CharsetOf(codePage, charset)) return false;
  std::string narrow;
  std::string_view replacement = codePage == 65001 ? std::string_view("\xEF\xBF\xBD") : std::string_view("?");
  {
    SharedConverters &shared = Converters();
    std::lock_guard<std::mutex> hold(shared.lock);
    iconv_t converter = shared.cache.Get(charset, true);
    if (converter == kNoConverter) return false;
    Convert(converter, reinterpret_cast<const char *>(text.data()), text.size() * sizeof(char16_t), narrow, replacement,
            sizeof(char16_t));
  }
  if (narrow.empty()) return false;
  out.swap(narrow);
  return true;
}

bool SystemDecode(std::string_view text, std::uint32_t codePage, std::u16string &out) {
  std::string charset;
  if (text.empty() || !CharsetOf(codePage, charset)) return false;
  std::string bytes;
  constexpr char16_t kReplacement = 0xFFFD;
  {
    SharedConverters &shared = Converters();
    std::lock_guard<std::mutex> hold(shared.lock);
    iconv_t converter = shared.cache.Get(charset, false);
    if (converter == kNoConverter) return false;
    Convert(converter, text.data(), text.size(), bytes,
            std::string_view(reinterpret_cast<const char *>(&kReplacement), sizeof kReplacement), 1);
  }
  if (bytes.size() < sizeof(char16_t)) return false;
  std::u16string wide(bytes.size() / sizeof(char16_t), u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(char16_t));
  out.swap(wide);
  return true;
}

}  // namespace QVX
