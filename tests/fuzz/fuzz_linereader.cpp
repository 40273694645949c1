// The line block reader hands out the file in blocks of whole lines that join back to it, never
// splits a CR LF, and gives the same lines as a plain split. Lines of any length and block borders
// anywhere come from a filler run put in front of the input.

#include "fuzz.h"
#include "platform/textlines.h"

using namespace kelvara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const std::string content = fuzz::filler(provider, 2 * LineBlockReader::InitialBufferSize) +
                                provider.ConsumeRemainingBytesAsString();
    const std::string path = fuzz::tempDir() + "/lines.txt";
    fuzz::writeFile(path, content);

    LineBlockReader reader;
    FUZZ_CHECK(!reader.open(fuzz::bytes(path)));
    const std::vector<std::string_view> expected = fuzz::splitLines(content);
    for (int pass = 0; pass < 2; ++pass) { // the second after rewind()
        size_t joined = 0, k = 0;
        std::string_view block;
        LineBlockReader::Status status;
        while ((status = reader.next(block)) == LineBlockReader::Status::Block) {
            FUZZ_CHECK(!block.empty() && content.compare(joined, block.size(), block) == 0);
            joined += block.size();
            // Only the file's last block may end without a terminator; a CR LF stays in one block.
            FUZZ_CHECK(endsWithTerminator(block) || joined == content.size());
            FUZZ_CHECK(!(block.back() == '\r' && content[joined] == '\n'));
            size_t cr = 0;
            while ((cr = block.find('\r', cr)) != std::string_view::npos && cr + 1 < block.size() &&
                   block[cr + 1] == '\n')
                cr += 2;
            const char* loneCr = findLoneCr(block.data(), block.data() + block.size());
            FUZZ_CHECK(loneCr == (cr == std::string_view::npos ? nullptr : block.data() + cr));
            for (std::string_view rest = block; !rest.empty();)
                FUZZ_CHECK(k < expected.size() && splitFirstLine(rest) == expected[k++]);
            FUZZ_CHECK(lastLineOf(block) == expected[k - 1]);
        }
        FUZZ_CHECK(status == LineBlockReader::Status::End && joined == content.size() &&
                   k == expected.size());
        FUZZ_CHECK(!reader.rewind());
    }
    reader.close();

    LineReader lineReader;
    FUZZ_CHECK(!lineReader.open(fuzz::bytes(path)));
    std::string_view line;
    size_t k = 0;
    while (lineReader.next(line) == LineReader::Status::Line)
        FUZZ_CHECK(k < expected.size() && line == expected[k++]);
    FUZZ_CHECK(k == expected.size());
    return 0;
}
