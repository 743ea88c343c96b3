#include <windows.h>

#include "support/helper_thread.h"

namespace QVX {

namespace {

struct Job {
  void (*work)(void *);
  void *argument;
};

DWORD WINAPI RunJob(LPVOID job) {
  const Job *j = static_cast<const Job *>(job);
  j->work(j->argument);
  return 0;
}

}  // namespace

void RunOnHelperThread(void (*work)(void *), void *argument) {
  Job job{work, argument};
  HANDLE thread = CreateThread(nullptr, 0, RunJob, &job, 0, nullptr);
  if (!thread) {
    work(argument);
    return;
  }
  // Unbounded as the work itself would be on this thread (it may show a message box).
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace QVX
