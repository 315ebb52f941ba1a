#include "processor/ProcessingGate.h"

#include <thread>

// Sequentially consistent on both sides: either the block sees the gate
// closed, or the closer sees the block in flight and waits for it.

ProcessingGate::ScopedEntry::ScopedEntry (ProcessingGate& g) noexcept
    : gate (g)
{
    gate.blocksInFlight.fetch_add (1);
    wasEntered = ! gate.closed.load();

    if (! wasEntered)
        gate.blocksInFlight.fetch_sub (1);
}

ProcessingGate::ScopedEntry::~ScopedEntry()
{
    if (wasEntered)
        gate.blocksInFlight.fetch_sub (1);
}

ProcessingGate::ScopedClosure::ScopedClosure (ProcessingGate& g)
    : gate (g), closerLock (g.closers)
{
    gate.closed.store (true);

    while (gate.blocksInFlight.load() != 0)
        std::this_thread::yield();
}

ProcessingGate::ScopedClosure::~ScopedClosure()
{
    gate.closed.store (false);
}
