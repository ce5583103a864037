// The trace window's frame reader on any byte stream, split at any point: the frames and faults
// it reports must not depend on the split, no command may hold a NUL or exceed the frame limit,
// and once the stream is given up no further frame may appear.
#include "fuzz/FuzzData.h"
#include "trace/TraceFrame.h"

#include <vector>

using trace_wire::Frame;
using trace_wire::FrameReader;

namespace {

bool Same(const std::vector<Frame>& a, const std::vector<Frame>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].command != b[i].command || a[i].fault != b[i].fault)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t mode = input.Mode();
    const QByteArrayView stream = input.Rest();

    FrameReader whole;
    const std::vector<Frame> frames = whole.Feed(stream);

    FrameReader split;
    const qsizetype at = stream.size() * mode / 255;
    std::vector<Frame> pieces = split.Feed(stream.first(at));
    for (Frame& f : split.Feed(stream.sliced(at)))
        pieces.push_back(std::move(f));
    FUZZ_CHECK(Same(frames, pieces));
    FUZZ_CHECK(whole.IsBroken() == split.IsBroken());
    FUZZ_CHECK(whole.UnfinishedFault() == split.UnfinishedFault());

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        FUZZ_CHECK(!f.command.contains('\0'));
        FUZZ_CHECK(f.command.size() < trace_wire::kMaxFrameBytes);
        // Only the last report may be the fault that ends the stream.
        FUZZ_CHECK(!whole.IsBroken() || i + 1 < frames.size() || f.IsFault());
        // What the reader took, written again, reads back the same.
        if (!f.IsFault()) {
            FrameReader again;
            const std::vector<Frame> back = again.Feed(trace_wire::EncodeFrame(f.command));
            FUZZ_CHECK(back.size() == 1 && back[0].command == f.command);
        }
    }
    if (whole.IsBroken())
        FUZZ_CHECK(whole.Feed(trace_wire::EncodeFrame("xta1:after")).empty());
    return 0;
}
