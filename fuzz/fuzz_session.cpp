// The model-based walk through the core (tests/support/sessionwalk.h) with the steps
// decoded from the input, four bytes a step: the fuzzer mutates sequences of the user's
// actions and the link's events. A broken invariant stops the run with the shortest
// sequence found.
#include "check.h"
#include "sessionwalk.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const sessionwalk::Steps steps = sessionwalk::decode(data, size);
    const std::optional<sessionwalk::Failure> failure = sessionwalk::run(steps);
    if (failure) {
        const sessionwalk::Steps shortest = sessionwalk::shrink(steps);
        fuzzcheck::fail(qPrintable(failure->invariant),
                        QStringLiteral("%1; %2").arg(failure->detail, sessionwalk::describe(shortest)));
    }
    return 0;
}
