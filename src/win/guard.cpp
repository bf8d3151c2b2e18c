#include "win/guard.h"

#include <cxxabi.h>

namespace vorlatch {
namespace {

// One guarded call in progress on this thread; nested calls link to the outer one.
struct GuardFrame {
  void* jumpBuffer[5] = {};  // for __builtin_setjmp
  GuardFrame* outer = nullptr;
  DWORD code = 0;                 // the last structured exception seen during the call
  int jumpedWith = 0;             // what brought the call back through jumpBuffer
  volatile bool walking = false;  // the watcher is walking the stack (a fault may interrupt it)
  // An address inside CallGuarded's own frame: everything below it on the stack belongs to
  // the call.
  ULONG_PTR stackMark = 0;
#if defined(__i386__)
  void* sehChain = nullptr;  // the thread's exception registration list at the call
#endif
};

constexpr int kJumpedFault = 1;
constexpr int kJumpedCppException = 2;

// The thread information block, read directly (NtCurrentTeb trips the compiler's bounds
// warnings).
NT_TIB* ThreadInformationBlock() {
  NT_TIB* tib = nullptr;
#if defined(__x86_64__)
  asm("movq %%gs:0x30, %0" : "=r"(tib));
#else
  asm("movl %%fs:0x18, %0" : "=r"(tib));
#endif
  return tib;
}

// Codes that the system and the C++ runtime raise for their own bookkeeping.
constexpr DWORD kGccThrow = 0x20474343;  // "GCC" C++ exception (x86_64 SEH unwinder)
constexpr DWORD kGccUnwind = 0x21474343;
constexpr DWORD kGccForced = 0x22474343;
constexpr DWORD kSetThreadName = 0x406D1388;

// The innermost guarded call of each thread, in a system TLS slot: a C++ thread_local would
// bring the runtime's emulated TLS and a POSIX threads library into every program. Taken at
// start-up; should the system have no slot left, the programs' one thread uses a plain one.
const DWORD g_innermostSlot = TlsAlloc();
GuardFrame* g_innermostFallback = nullptr;

GuardFrame* Innermost() {
  return g_innermostSlot != TLS_OUT_OF_INDEXES
             ? static_cast<GuardFrame*>(TlsGetValue(g_innermostSlot))
             : g_innermostFallback;
}

void SetInnermost(GuardFrame* frame) {
  if (g_innermostSlot == TLS_OUT_OF_INDEXES || !TlsSetValue(g_innermostSlot, frame)) {
    g_innermostFallback = frame;
  }
}

// A system lock, not std::mutex: that would bring the C++ runtime's threading and error
// classes into every program for two short sections.
SRWLOCK g_armLock = SRWLOCK_INIT;
int g_armCount = 0;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
PVOID g_watcher = nullptr;

bool IsBookkeeping(DWORD code) {
  return code == kGccUnwind || code == kGccForced || code == kSetThreadName ||
         code == DBG_PRINTEXCEPTION_C || code == 0x4001000A /* DBG_PRINTEXCEPTION_WIDE_C */;
}

#if defined(__x86_64__)
// Whether the system's dispatcher can walk from the faulting frame back into CallGuarded,
// following its rules: code without unwind information counts as a leaf function whose
// return address is at the stack pointer. Where the walk leaves the stack (a frame without
// unwind information misleads it), the dispatcher gives up and ends the process without
// asking any filter.
bool CanUnwindTo(const CONTEXT& fault, ULONG_PTR stackMark) {
  const NT_TIB* tib = ThreadInformationBlock();
  const auto low = reinterpret_cast<ULONG_PTR>(tib->StackLimit);
  const auto high = reinterpret_cast<ULONG_PTR>(tib->StackBase);
  CONTEXT context = fault;
  for (int depth = 0; depth < 1024; ++depth) {
    if (context.Rsp < low || context.Rsp >= high || (context.Rsp & 7) != 0) {
      return false;
    }
    if (context.Rsp > stackMark) {
      return true;
    }
    const ULONG_PTR previousRsp = context.Rsp;
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (entry != nullptr) {
      PVOID handlerData = nullptr;
      DWORD64 establisherFrame = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, entry, &context, &handlerData,
                       &establisherFrame, nullptr);
    } else {
      context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
      context.Rsp += sizeof(DWORD64);
    }
    if (context.Rsp <= previousRsp) {
      return false;
    }
  }
  return false;
}
#endif

// Sees every exception first, also those that the foreign code will catch itself, so it
// only takes notes; it takes over only where the dispatcher could not go on.
LONG CALLBACK WatchException(EXCEPTION_POINTERS* info) {
  GuardFrame* frame = Innermost();
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (frame == nullptr || IsBookkeeping(code)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
#if defined(__x86_64__)
  if (frame->walking) {
    // The walk below faulted: the dispatcher would fault at the same place.
    frame->walking = false;
    __builtin_longjmp(frame->jumpBuffer, 1);
  }
#endif
  if (code != kGccThrow) {
    frame->code = code;
  }
#if defined(__x86_64__)
  frame->jumpedWith = code == kGccThrow ? kJumpedCppException : kJumpedFault;
  frame->walking = true;
  const bool walkable = CanUnwindTo(*info->ContextRecord, frame->stackMark);
  frame->walking = false;
  if (!walkable) {
    __builtin_longjmp(frame->jumpBuffer, 1);
  }
#endif
  return EXCEPTION_CONTINUE_SEARCH;
}

// Reached when nothing inside the call handled the exception.
LONG WINAPI FilterUnhandled(EXCEPTION_POINTERS* info) {
  if (GuardFrame* frame = Innermost()) {
    frame->code = info->ExceptionRecord->ExceptionCode;
    frame->jumpedWith = kJumpedFault;
    __builtin_longjmp(frame->jumpBuffer, 1);
  }
  return g_previousFilter != nullptr ? g_previousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

class ArmLock {
 public:
  ArmLock() { AcquireSRWLockExclusive(&g_armLock); }
  ~ArmLock() { ReleaseSRWLockExclusive(&g_armLock); }
  ArmLock(const ArmLock&) = delete;
  ArmLock& operator=(const ArmLock&) = delete;
};

void Arm() {
  ArmLock lock;
  if (g_armCount++ == 0) {
    g_previousFilter = SetUnhandledExceptionFilter(FilterUnhandled);
    g_watcher = AddVectoredExceptionHandler(1, WatchException);
  }
}

void Disarm() {
  ArmLock lock;
  if (--g_armCount == 0) {
    if (g_watcher != nullptr) {
      RemoveVectoredExceptionHandler(g_watcher);
      g_watcher = nullptr;
    }
    SetUnhandledExceptionFilter(g_previousFilter);
    g_previousFilter = nullptr;
  }
}

// C++ exceptions of our own ABI end here. Structured exceptions pass catch (...) with this
// compiler on both targets and reach the filter; a runtime that presented one as a foreign
// exception would give it no type, and it counts as a fault.
__attribute__((noinline)) GuardResult CallCatching(void (*fn)(void*), void* context) {
  try {
    fn(context);
    return GuardResult::kReturned;
  } catch (...) {
    return abi::__cxa_current_exception_type() != nullptr ? GuardResult::kCppException
                                                          : GuardResult::kFault;
  }
}

}  // namespace

GuardResult CallGuarded(void (*fn)(void*), void* context, DWORD* exceptionCode) {
  Arm();
  GuardFrame frame;
  frame.outer = Innermost();
  frame.stackMark = reinterpret_cast<ULONG_PTR>(&frame);
#if defined(__i386__)
  frame.sehChain = ThreadInformationBlock()->ExceptionList;
#endif
  SetInnermost(&frame);

  GuardResult result = GuardResult::kFault;
  if (__builtin_setjmp(frame.jumpBuffer) == 0) {
    result = CallCatching(fn, context);
  } else {
#if defined(__i386__)
    // The dispatcher's registrations below us are gone with its stack.
    ThreadInformationBlock()->ExceptionList =
        static_cast<EXCEPTION_REGISTRATION_RECORD*>(frame.sehChain);
#endif
    result =
        frame.jumpedWith == kJumpedCppException ? GuardResult::kCppException : GuardResult::kFault;
  }

  SetInnermost(frame.outer);
  Disarm();
  if (exceptionCode != nullptr) {
    *exceptionCode = result == GuardResult::kFault ? frame.code : 0;
  }
  return result;
}

}  // namespace vorlatch
