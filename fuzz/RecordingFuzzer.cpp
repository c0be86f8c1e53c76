// Arbitrary text as a recording, as `replay` reads it: reading may only succeed or throw
// std::runtime_error; anything else escapes and is reported by the engine. What it reads must hold
// together: every frame's camera is in the list, pixels give as many rays, truth markers one per ray.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <variant>

#include "fuzz/FuzzCheck.h"
#include "tools/horizontal-grid/Recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const Lumetra::Tools::Recording recording = Lumetra::Tools::parseRecording(text);
        LUMETRA_FUZZ_CHECK(!recording.environment.empty() && !recording.cameras.empty() && recording.cameras.size() <= 8,
                           "%zu cameras", recording.cameras.size());
        for (const Lumetra::Tools::RecordedEvent& event : recording.events) {
            const auto* frame = std::get_if<Lumetra::Tools::RecordedFrame>(&event);
            if (!frame) continue;
            LUMETRA_FUZZ_CHECK(frame->camera < recording.cameras.size(), "camera %u", frame->camera);
            LUMETRA_FUZZ_CHECK(frame->pixels.empty() || frame->pixels.size() == frame->rays.size(), "line %zu", frame->line);
            LUMETRA_FUZZ_CHECK(!frame->truth || frame->truth->markerIndices.empty() ||
                                   frame->truth->markerIndices.size() == frame->rays.size(),
                               "line %zu", frame->line);
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
