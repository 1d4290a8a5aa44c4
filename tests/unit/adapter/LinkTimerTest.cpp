// The link timer: the countdown of each link state and what its end leads to, and the reading
// of what has arrived.
#include <gtest/gtest.h>

#include "tests/unit/adapter/LinkRig.h"

namespace adapter_test {
namespace {

using namespace adapter;

TEST(LinkTimer, StrayStateFallsBackToIdleAndDoneNoticeClearsTheLeftPart) {
    LinkRig rig;
    rig.link->state.TimeoutState = static_cast<int8_t>(-100);  // read as signed: not a known state
    rig.link->state.TimeoutTicks = 5;
    rig.Tick();
    EXPECT_EQ(rig.link->state.TimeoutState, Idle);
    EXPECT_TRUE(rig.host.delivered.empty());

    rig.link->state.TimeoutState = DoneNotice;
    rig.link->state.TimeoutTicks = 3;
    rig.Ticks(2);
    EXPECT_TRUE(rig.host.status[0].empty());
    rig.Tick();
    EXPECT_EQ(rig.host.status[0], std::vector<std::string>({" "}));
    EXPECT_TRUE(rig.host.delivered.empty());
}

TEST(LinkTimer, OneChunkIsReadAndHeldUntilItHasBeenHandled) {
    LinkRig rig;
    rig.link->search.OpenPortAt(9600);
    rig.Answer(ToBytes("noise"));
    rig.link->OnLinkTimer();
    ASSERT_EQ(rig.host.posted, std::vector<uint32_t>({CM_RECEIVED}));
    EXPECT_EQ(rig.link->state.RxPending, 1);
    EXPECT_EQ(rig.link->state.RxCount, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rig.link->state.RxChunk), 5), "noise");

    // More bytes wait in the port while the chunk is pending.
    rig.Answer(ToBytes("more"));
    rig.link->OnLinkTimer();
    EXPECT_EQ(rig.host.posted.size(), 1u);
    EXPECT_EQ(rig.api.RxLeft(LinkRig::kPort), 4u);
    rig.DeliverPosted();
    EXPECT_EQ(rig.link->state.RxPending, 0);
    rig.Tick();
    EXPECT_EQ(rig.api.RxLeft(LinkRig::kPort), 0u);
}

}  // namespace
}  // namespace adapter_test
