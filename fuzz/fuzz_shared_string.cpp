// QVXString edits against a std::u16string model, with copies that must not
// see each other's changes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/qvx_string.h"

namespace {

void Check(const QVXString &s, const std::u16string &model) {
  if (s.View() != model || s.c_str()[s.Length()] != 0 || s.Length() + 1 > s.Capacity()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  QVXString s;
  std::u16string model;
  QVXString kept;
  std::u16string keptModel;
  for (std::size_t i = 0; i + 2 < size; i += 3) {
    std::uint8_t op = data[i], a = data[i + 1], b = data[i + 2];
    char16_t c = static_cast<char16_t>(u'a' + a % 26);
    switch (op % 9) {
      case 0:
        s.Append(c);
        model.push_back(c);
        break;
      case 1:
        s.Append(s);
        model += model;
        break;
      case 2:
        s.Append(std::u16string(a % 20, c).c_str());
        model.append(a % 20, c);
        break;
      case 3:
        s.Erase(a, b);
        if (a < b && a < model.size()) model.erase(a, std::min<std::size_t>(b, model.size()) - a);
        break;
      case 4: {
        QVXString piece(std::u16string_view(std::u16string(b % 9, c)));
        bool done = s.Replace(b, a, piece);
        if (a <= model.size()) {
          model.replace(a, std::min<std::size_t>(b, model.size() - a), std::u16string(b % 9, c));
          if (!done) std::abort();
        }
        break;
      }
      case 5:
        kept = s;
        keptModel = model;
        break;
      case 6:
        s.Reserve(a);
        model.resize(std::min<std::size_t>(model.size(), std::max<std::size_t>(a, 8) - 1));
        break;
      case 7:
        s.Replace(a % 4, a % 3, s);
        if (a % 3 <= model.size()) {
          std::u16string old = model;
          model.replace(a % 3, std::min<std::size_t>(a % 4, old.size() - a % 3), old);
        }
        break;
      default: s.Narrow(); break;
    }
    if (model.size() > 4000) return 0;
    Check(s, model);
    Check(kept, keptModel);
  }
  return 0;
}
