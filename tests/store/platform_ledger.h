// Wraps the module's platform services for one test: counts the handles each
// operation acquires and releases, and fails a chosen call on request. The
// real services are put back when the ledger goes.
#pragma once

#include <array>
#include <string>

#include "store/platform.h"

namespace zvcert::testing {

enum class HandleKind { Store, Certificate, Provider, Key, Hash, RpcString, Message, kCount };

// One operation per entry of the platform table, named as the entry.
#define ZVCERT_LEDGER_OP(name, ...) name,
enum class Op { ZVCERT_PLATFORM_ENTRIES(ZVCERT_LEDGER_OP) kCount };
#undef ZVCERT_LEDGER_OP

const char* OpName(Op op);
const char* KindName(HandleKind kind);

class PlatformLedger {
 public:
  PlatformLedger();
  ~PlatformLedger();
  PlatformLedger(const PlatformLedger&) = delete;
  PlatformLedger& operator=(const PlatformLedger&) = delete;

  // Handles of a kind acquired and not yet released.
  int open(HandleKind kind) const;
  // "" when nothing is open, else a list such as "Key 1, Hash 1".
  std::string openHandles() const;
  int calls(Op op) const;

  // The nth call of op from now fails as the platform reports failure; a
  // call that releases a handle on failure too still releases it. nth = 0
  // cancels a failure not yet reached.
  void FailCall(Op op, int nth = 1);
  // Every call of op fails until FailCall(op, 0).
  void FailEveryCall(Op op);

  // Calls of any operation since the ledger was made, and the nth platform
  // call from now, whatever its operation, failing (0 cancels).
  int totalCalls() const;
  void FailNthCall(int nth);
};

}  // namespace zvcert::testing
