// The reader's lines are a plain split's; its blocks join back to the file and never split a CR LF.

#include "fuzz.h"
#include "io/textlines.h"

using namespace kelvara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const std::string content = fuzz::filler(provider, 2 * LineBlockReader::InitialBufferSize) +
                                provider.ConsumeRemainingBytesAsString();
    const std::string path = fuzz::tempDir() + "/lines.txt";
    fuzz::writeFile(path, content);
    const std::vector<std::string_view> expected = test::splitLines(content);

    LineBlockReader reader;
    assert(!reader.openAt(AT_FDCWD, QByteArray::fromStdString(path)));
    for (int pass = 0; pass < 2; ++pass) { // the second after rewind()
        size_t joined = 0, k = 0;
        std::string_view block;
        LineBlockReader::Status status;
        while ((status = reader.next(block)) == LineBlockReader::Status::Block) {
            assert(!block.empty() && content.compare(joined, block.size(), block) == 0);
            joined += block.size();
            // Only the file's last block may end without a terminator; a CR LF stays in one block.
            assert(endsWithTerminator(block) || joined == content.size());
            assert(!(block.back() == '\r' && content[joined] == '\n'));
            size_t cr = 0;
            while ((cr = block.find('\r', cr)) != std::string_view::npos && cr + 1 < block.size() &&
                   block[cr + 1] == '\n')
                cr += 2;
            const char* loneCr = findLoneCr(block.data(), block.data() + block.size());
            assert(loneCr == (cr == std::string_view::npos ? nullptr : block.data() + cr));
            for (const std::string_view line : test::splitLines(block))
                assert(k < expected.size() && line == expected[k++]);
            assert(lastLineOf(block) == expected[k - 1]);
        }
        assert(status == LineBlockReader::Status::End && joined == content.size() && k == expected.size());
        assert(!reader.rewind());
    }

    return 0;
}
