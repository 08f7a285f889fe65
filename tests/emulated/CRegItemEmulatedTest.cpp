// CRegItem where only the emulated registry can go: the flush that follows
// every value write, and a flush that fails.
#include <gtest/gtest.h>

#include "platform/emulated/TestHooks.h"
#include "registry/CRegItem.h"
#include "registry/CRegNode.h"
#include "support/Raised.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
namespace hooks = platform::emulated;

using testing::Api;
using testing::RaisedBy;

TEST(CRegItemEmulatedTest, AWriteIsFlushedAndAFailedFlushRaisesAfterIt) {
  testing::ScratchKey scratch;
  const auto node = CRegNode::New();
  node->Create(AnsiToWide(scratch.Path()));
  const auto item = node->Items(L"v");

  std::size_t flushes = hooks::FlushCount();
  item->SetValue(1);
  EXPECT_EQ(hooks::FlushCount(), flushes + 1);

  flushes = hooks::FlushCount();
  hooks::FailNextFlush(ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(RaisedBy([&] { item->SetValue(L"written"); }),
            Api(ERROR_REGISTRY_IO_FAILED));
  EXPECT_EQ(hooks::FlushCount(), flushes + 1);
  EXPECT_EQ(node->Items(L"v")->Value(), Variant(L"written"));
}

}  // namespace
}  // namespace corvane
