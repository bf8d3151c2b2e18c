#pragma once
// The system's thread for decoding an LZMA block ahead of the extraction that writes it out.

#include <windows.h>

#include "package/lzma_item.h"

namespace vorlatch {

// Its handles live from Start to Join (the block decoder joins before it lets a block go), so
// the object has nothing to release of its own and a static one is made without code.
class SystemDecodingThread final : public DecodingThread {
 public:
  constexpr SystemDecodingThread() = default;
  SystemDecodingThread(const SystemDecodingThread&) = delete;
  SystemDecodingThread& operator=(const SystemDecodingThread&) = delete;

  bool Start(void (*work)(void*), void* context) override;
  void Join() override;
  void Lock() override { ::AcquireSRWLockExclusive(&lock_); }
  void Unlock() override { ::ReleaseSRWLockExclusive(&lock_); }
  bool Wait() override;
  void Wake() override { ::WakeAllConditionVariable(&changed_); }

 private:
  static DWORD WINAPI Run(void* self);

  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  HANDLE thread_ = nullptr;
  HANDLE starter_ = nullptr;  // the thread that started the work, to see it end
  void (*work_)(void*) = nullptr;
  void* context_ = nullptr;
};

}  // namespace vorlatch
