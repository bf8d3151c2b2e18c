#include "package/decoding_thread.h"

namespace vorlatch {

namespace {

// The decoder's frames are small; the default reservation (the program's, 1 MB) is not needed.
constexpr SIZE_T kStackReservation = 64 * 1024;
// How long a waiter sleeps before it looks again by itself. The thread that writes the bytes
// out may end without a word (a terminated run leaves through ExitThread), and a decoding
// thread that waited for it for ever would keep the process alive.
constexpr DWORD kWaitMilliseconds = 100;

}  // namespace

bool SystemDecodingThread::Start(void (*work)(void*), void* context) {
  Join();
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &starter_, SYNCHRONIZE, FALSE, 0)) {
    starter_ = nullptr;
    return false;
  }
  work_ = work;
  context_ = context;
  thread_ = ::CreateThread(nullptr, kStackReservation, &Run, this,
                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread_ == nullptr) {
    Join();
    return false;
  }
  return true;
}

void SystemDecodingThread::Join() {
  if (thread_ != nullptr) {
    ::WaitForSingleObject(thread_, INFINITE);
    ::CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (starter_ != nullptr) {
    ::CloseHandle(starter_);
    starter_ = nullptr;
  }
}

bool SystemDecodingThread::Wait() {
  return ::SleepConditionVariableSRW(&changed_, &lock_, kWaitMilliseconds, 0) ||
         ::WaitForSingleObject(starter_, 0) != WAIT_OBJECT_0;
}

DWORD WINAPI SystemDecodingThread::Run(void* self) {
  auto* thread = static_cast<SystemDecodingThread*>(self);
  thread->work_(thread->context_);
  return 0;
}

}  // namespace vorlatch
