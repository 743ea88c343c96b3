#include "support/format_stream.h"

#include <algorithm>

namespace QVX {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

OFormatStream::OFormatStream(const QVXString &format, StringStreamBuf &result)
    : std::basic_ostream<wchar_t>(nullptr), format_(format), result_(result), arguments_(buffer_, kBufferChars) {
  rdbuf(&arguments_);
  Parse();
  if (highest_ == 0) result_.PutUnits(format_.c_str(), format_.Length());
}

void OFormatStream::Parse() {
  std::u16string_view text = format_.View();
  std::uint32_t literalStart = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'%') {
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == u'%') {
      i += 2;
      continue;
    }
    std::size_t end = i + 1;
    int number = 0;
    // Numbers are only compared with 20; stop counting long before they could wrap.
    while (end < text.size() && IsDigit(text[end])) {
      if (number < 1000) number = number * 10 + (text[end] - u'0');
      ++end;
    }
    // "%" with no number or with 0 is plain text.
    if (end == i + 1 || number == 0) {
      ++i;
      continue;
    }
    highest_ = std::max(highest_, number);
    if (number > kMaxPlaceholders || placeholderCount_ == kMaxPlaceholders) {
      i = end;
      continue;
    }
    placeholders_[placeholderCount_++] = {literalStart, static_cast<std::uint32_t>(i), number};
    if (end < text.size() && text[end] == u'\\') ++end;
    literalStart = static_cast<std::uint32_t>(end);
    i = end;
  }
  tailStart_ = literalStart;
}

bool OFormatStream::BeginArgument() {
  if (inserted_ >= highest_) return false;
  clear();
  argumentStart_ = arguments_.pcount();
  return true;
}

void OFormatStream::EndArgument() {
  // A full buffer cuts the argument where it ends; the next ones come out empty.
  if (inserted_ < kMaxPlaceholders) recorded_[inserted_] = {argumentStart_, arguments_.pcount() - argumentStart_};
  clear();
  if (++inserted_ == highest_) Compose();
}

void OFormatStream::WriteLiteral(std::uint32_t from, std::uint32_t to) {
  std::u16string_view text = format_.View().substr(from, to - from);
  for (std::size_t i = 0; i < text.size(); ++i) {
    result_.PutUnits(&text[i], 1);
    if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u'%') ++i;
  }
}

void OFormatStream::Compose() {
  for (int p = 0; p < placeholderCount_; ++p) {
    const Placeholder &placeholder = placeholders_[p];
    WriteLiteral(placeholder.literalStart, placeholder.literalEnd);
    bool last = true;
    for (int later = p + 1; later < placeholderCount_; ++later)
      if (placeholders_[later].number == placeholder.number) last = false;
    if (!last) continue;
    const Argument &argument = recorded_[placeholder.number - 1];
    for (std::streamsize k = 0; k < argument.length; ++k) {
      wchar_t c = buffer_[argument.start + k];
      result_.sputc(c);
    }
  }
  WriteLiteral(tailStart_, format_.Length());
}

}  // namespace QVX
