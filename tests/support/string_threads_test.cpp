#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/qvx_string.h"

namespace vorn_test {
namespace {

// Handles to one representation are copied and dropped on many threads; the
// count must come back exactly and no thread may see another's edits.
TEST(QVXStringThreads, CopiesAndReleasesAcrossThreadsKeepTheCount) {
  QVXString line(u"received line");
  QVXString empty;
  const std::int32_t emptyCount = empty.RefCount();
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  std::vector<int> mismatches(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        QVXString copy(line);
        QVXString blank;
        if (i % 16 == 0) {
          copy.Append(u'!');
          blank.Append(u'x');
          if (copy != u"received line!" || blank != u"x") ++mismatches[t];
        } else if (copy != u"received line") {
          ++mismatches[t];
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
  EXPECT_EQ(line.RefCount(), 1);
  EXPECT_EQ(empty.RefCount(), emptyCount);
  EXPECT_EQ(line, u"received line");
}

TEST(QVXStringThreads, InterfaceReferencesFromOtherThreadsFreeOnce) {
  IQVXString *rep = nullptr;
  {
    QVXString text(u"handed to the host");
    rep = text.Interface();
    for (int i = 0; i < 9; ++i) rep->AddRef();
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([rep] { rep->Release(); });
  for (std::thread &thread : threads) thread.join();
  QVXString last = QVXString::Attach(rep);
  EXPECT_EQ(last.RefCount(), 1);
  EXPECT_EQ(last, u"handed to the host");
}

}  // namespace
}  // namespace vorn_test
