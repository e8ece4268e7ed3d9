// Any text as a selection file, loaded the way each handler family loads it:
// no crash, no count past 255, nothing selected when the count is refused,
// and the same selection whichever family's progress lines are printed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "reqhandlers/selection.hpp"

namespace {

// A file of the run's own, removed when the run ends.
const char *scratch_file() {
    static char path[] = "/tmp/dcu-selection-fuzz-XXXXXX";
    static const bool made = [] {
        const int fd = ::mkstemp(path);
        if (fd >= 0) ::close(fd);
        std::atexit([] { ::unlink(path); });
        return true;
    }();
    (void)made;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::FILE *file = std::fopen(scratch_file(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    static std::FILE *null_out = std::fopen("/dev/null", "w");
    std::FILE *saved = stdout;
    stdout = null_out;
    namespace sel = dcu::selection;
    for (const char *section : {"BillParams", "MNParams", "EventParams", "LSParams", "InstParams"}) {
        const auto first = sel::load(scratch_file(), section, sel::messages::kProfile);
        if (first.entries.size() > 255) std::abort();
        if (first.refused && !first.entries.empty()) std::abort();
        for (const sel::Messages *messages :
             {&sel::messages::kFileContent, &sel::messages::kEventDetail, &sel::messages::kInstant}) {
            const auto again = sel::load(scratch_file(), section, *messages);
            if (again.file_failed != first.file_failed || again.refused != first.refused ||
                again.entries.size() != first.entries.size())
                std::abort();
            for (std::size_t i = 0; i < first.entries.size(); ++i)
                if (again.entries[i].obis != first.entries[i].obis || again.entries[i].assign != first.entries[i].assign)
                    std::abort();
        }
    }
    stdout = saved;
    return 0;
}
