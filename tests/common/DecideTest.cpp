// What every event does in every state of the window: the one table the
// window's dispatch follows.
#include <gtest/gtest.h>
#include "Haupt.h"

namespace {

using enum FormState;
using enum FormEvent;
using enum Reaction;

struct Row {
    FormState State;
    Reaction Weiter, Abbruch, Close;  // close offered by the window
};

// A closed window gives exit code 0: only where nothing has started, or the
// user has seen the run end, may it say so.
const Row kTable[] = {
    {Created, Defer, EndWithOne, Defer},
    {ShowTime, Defer, EndWithOne, Defer},
    {Compact, Run, EndWithOne, CloseWindow},
    {Running, Ignore, EndWithOne, EndWithOne},
    {StoppedByError, Run, EndWithOne, EndWithOne},
    {ShowFailed, Ignore, EndWithOne, EndWithOne},
    {InStep, Requeue, Requeue, Requeue},
    {Ending, Ignore, Ignore, Ignore},
};

TEST(Decide, EveryEventInEveryState) {
    for (const Row& r : kTable) {
        SCOPED_TRACE(static_cast<int>(r.State));
        EXPECT_EQ(TFHaupt::Decide(r.State, Weiter, true), r.Weiter);
        EXPECT_EQ(TFHaupt::Decide(r.State, Abbruch, true), r.Abbruch);
        EXPECT_EQ(TFHaupt::Decide(r.State, Close, true), r.Close);
        // A window that offers no closing ignores every close request.
        EXPECT_EQ(TFHaupt::Decide(r.State, Close, false), Ignore);
        EXPECT_EQ(TFHaupt::Decide(r.State, Abbruch, false), r.Abbruch);
    }
}

}  // namespace
