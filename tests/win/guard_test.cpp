// The guarded call: faults and exceptions inside it come back as results and the program
// goes on; what the callee handles itself passes untouched.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "win/guard.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

constexpr DWORD kNoCode = 0xFFFFFFFF;

volatile int g_zero = 0;
volatile int g_sink = 0;

struct Outcome {
  GuardResult result;
  DWORD code;
};

template <typename Callable>
Outcome Guard(Callable&& callable) {
  DWORD code = kNoCode;
  const GuardResult result = CallGuarded(callable, &code);
  return {result, code};
}

void ExpectOutcome(const Outcome& outcome, GuardResult result, DWORD code) {
  EXPECT_EQ(outcome.result, result);
  EXPECT_EQ(outcome.code, code);
}

TEST(Guard, FaultsAndExceptionsComeBackAsResultsAgainAndAgain) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    int* volatile nowhere = nullptr;
    ExpectOutcome(Guard([&] { *nowhere = 1; }), GuardResult::kFault, EXCEPTION_ACCESS_VIOLATION);
    ExpectOutcome(Guard([&] { g_sink = *nowhere; }), GuardResult::kFault,
                  EXCEPTION_ACCESS_VIOLATION);
    ExpectOutcome(Guard([] { g_sink = 7 / g_zero; }), GuardResult::kFault,
                  EXCEPTION_INT_DIVIDE_BY_ZERO);
    ExpectOutcome(Guard([] { throw std::runtime_error("thrown"); }), GuardResult::kCppException, 0);
    ExpectOutcome(Guard([] { throw 42; }), GuardResult::kCppException, 0);
    ExpectOutcome(Guard([] { RaiseException(0xE0001234, 0, 0, nullptr); }), GuardResult::kFault,
                  0xE0001234);

    int calls = 0;
    ExpectOutcome(Guard([&] { ++calls; }), GuardResult::kReturned, 0);
    EXPECT_EQ(calls, 1);
  }
}

TEST(Guard, WhatTheCalleeCatchesItselfPassesUntouched) {
  bool caught = false;
  ExpectOutcome(Guard([&] {
                  try {
                    throw std::runtime_error("inside");
                  } catch (const std::runtime_error& error) {
                    caught = std::string(error.what()) == "inside";
                  }
                }),
                GuardResult::kReturned, 0);
  EXPECT_TRUE(caught);

  // The system takes and handles an access violation here; the guard must not take over.
  bool bad = false;
  ExpectOutcome(Guard([&] { bad = IsBadWritePtr(reinterpret_cast<void*>(16), 4) != 0; }),
                GuardResult::kReturned, 0);
  EXPECT_TRUE(bad);
}

TEST(Guard, NestedGuardsEachTakeTheirOwn) {
  Outcome inner{GuardResult::kReturned, kNoCode};
  int* volatile nowhere = nullptr;
  ExpectOutcome(Guard([&] {
                  inner = Guard([&] { *nowhere = 2; });
                  g_sink = 3 / g_zero;
                }),
                GuardResult::kFault, EXCEPTION_INT_DIVIDE_BY_ZERO);
  ExpectOutcome(inner, GuardResult::kFault, EXCEPTION_ACCESS_VIOLATION);
}

LONG WINAPI SomeoneElsesFilter(EXCEPTION_POINTERS*) {
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Guard, RestoresThePreviousUnhandledExceptionFilter) {
  LPTOP_LEVEL_EXCEPTION_FILTER original = SetUnhandledExceptionFilter(SomeoneElsesFilter);
  int* volatile nowhere = nullptr;
  EXPECT_EQ(Guard([&] { *nowhere = 1; }).result, GuardResult::kFault);
  EXPECT_EQ(Guard([] {}).result, GuardResult::kReturned);
  EXPECT_EQ(SetUnhandledExceptionFilter(original), &SomeoneElsesFilter);
}

DWORD WINAPI FaultOnThisThread(void* param) {
  int* volatile nowhere = nullptr;
  *static_cast<Outcome*>(param) = Guard([&] { *nowhere = 1; });
  return 0;
}

TEST(Guard, WorksOnAnyThread) {
  Outcome outcome{GuardResult::kReturned, kNoCode};
  UniqueHandle thread(CreateThread(nullptr, 0, FaultOnThisThread, &outcome, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
  ExpectOutcome(outcome, GuardResult::kFault, EXCEPTION_ACCESS_VIOLATION);
  ExpectOutcome(Guard([] { g_sink = 7 / g_zero; }), GuardResult::kFault,
                EXCEPTION_INT_DIVIDE_BY_ZERO);
}

// The way the installer uses it: functions of a DLL, loaded from beside the program.
using ExtensionFunction = void(__cdecl*)(const char*);

class GuardWithDll : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH] = {};
    std::string dll(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    dll.erase(dll.find_last_of('\\') + 1);
    dll += "fixture_faulting.dll";
    module_.reset(LoadLibraryA(dll.c_str()));
    ASSERT_TRUE(module_) << dll;
  }

  Outcome CallExport(const char* name) {
    auto function = reinterpret_cast<ExtensionFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    if (function == nullptr) {
      ADD_FAILURE() << "no export " << name;
      return {GuardResult::kReturned, kNoCode};
    }
    return Guard([&] { function("C:\\Program Files\\Zap\\"); });
  }

  UniqueModule module_;
};

TEST_F(GuardWithDll, EveryKindOfFailureComesBackAndTheProgramGoesOn) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    ExpectOutcome(CallExport("WriteThroughNull"), GuardResult::kFault, EXCEPTION_ACCESS_VIOLATION);
    ExpectOutcome(CallExport("DivideByZero"), GuardResult::kFault, EXCEPTION_INT_DIVIDE_BY_ZERO);
    ExpectOutcome(CallExport("ThrowCppException"), GuardResult::kCppException, 0);
    ExpectOutcome(CallExport("RaiseForeignException"), GuardResult::kFault, 0xE0424242);
    ExpectOutcome(CallExport("CatchOwnCppException"), GuardResult::kReturned, 0);
    ExpectOutcome(CallExport("ProbeUnwritableMemory"), GuardResult::kReturned, 0);
    ExpectOutcome(CallExport("ReturnNormally"), GuardResult::kReturned, 0);
  }
}

#if defined(__x86_64__)
TEST_F(GuardWithDll, FaultsInCodeWithoutUnwindInformation) {
  for (const char* name :
       {"FaultWithoutUnwindInfo", "FaultWithFramePointer", "FaultMisleadingUnwind"}) {
    SCOPED_TRACE(name);
    ExpectOutcome(CallExport(name), GuardResult::kFault, EXCEPTION_ACCESS_VIOLATION);
    // Still armed, and still leaving alone what the callee handles.
    ExpectOutcome(CallExport("DivideByZero"), GuardResult::kFault, EXCEPTION_INT_DIVIDE_BY_ZERO);
    ExpectOutcome(CallExport("ProbeUnwritableMemory"), GuardResult::kReturned, 0);
  }
}
#endif

}  // namespace
}  // namespace vorlatch
