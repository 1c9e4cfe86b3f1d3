#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "checks/fingerprint.h"
#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// The article an article is too close to.
struct NearDuplicate {
    Text keyword;   // of the earlier article (for one of an earlier run: its file name without ".txt")
    Text fileName;  // in the output folder
    int distance = 0;
};

// The fingerprints of the articles of the output folder and of those written during this run, for
// finding an article within `maxDistance` bits of one of them. A lookup does not look at them all:
// the 64 bits are cut into maxDistance + 1 blocks, two fingerprints that close agree in at least one
// block whole, and each block keys a table of the fingerprints that have it (for the usual 3: four
// blocks of 16 bits). The fingerprints of the folder are kept in an index file beside it, one line
// per article, so that a run over a large folder reads one small file instead of every article;
// Open brings it up to date with the folder (articles the user deleted stop counting, articles that
// appeared are read once). Before an earlier article is named as the duplicate its file is read
// again: one deleted or changed since does not count. Safe for the run's workers.
class DuplicateIndex {
public:
    static constexpr int kMaxDistance = 10;

    DuplicateIndex(Text folder, Text indexFile, int maxDistance);

    struct Opened {
        std::size_t articles = 0;        // fingerprints that count now
        std::size_t read = 0;            // articles read because the index file lacked them
        std::size_t dropped = 0;         // lines of articles no longer in the folder
        std::optional<Error> error;  // the index file could not be read or brought up to date
    };
    // Reads the index file and the folder's names; writes the index file anew when it was not up to
    // date. Once, before the first Admit. A missing folder holds no articles and nothing is created.
    Opened Open();

    // The article about to be written as `fileName` (a name of the folder): the earlier article it
    // is too close to, or nullopt, and then its fingerprint counts from now on. An earlier article of
    // the same file name does not count (the new one replaces it).
    std::optional<NearDuplicate> Admit(Fingerprint fingerprint, const Text& fileName, const Text& keyword);
    // The admitted article was not written after all: an earlier article of its name counts again.
    void Withdraw(const Text& fileName);
    // The admitted article is in its file: its line goes into the index file.
    [[nodiscard]] Result<void> Written(const Text& fileName);

    std::size_t size() const;

    // The first line of the index file, which says what the file is.
    static constexpr const char* kHeader = "青笺文章指纹 1";

private:
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};

    struct Entry {
        Fingerprint fingerprint = 0;
        Text fileName;
        Text keyword;          // empty: made from the file name when needed
        bool pending = false;  // admitted, not yet in its file
        bool alive = true;
        std::uint32_t replaced = kNone;  // the entry of the article a pending one is to replace
    };
    struct Block {
        int shift = 0;
        int width = 0;
        int bucketBits = 0;
        std::vector<std::uint32_t> heads;
        std::vector<std::uint32_t> next;  // per entry
    };

    std::uint32_t Add(Fingerprint fingerprint, const Text& fileName, const Text& keyword, bool pending);
    void Remove(std::uint32_t entry);
    std::size_t BucketOf(const Block& block, Fingerprint fingerprint) const;
    // The closest live entry within maxDistance_ of `fingerprint`, other than `fileName`'s.
    std::optional<std::uint32_t> Closest(Fingerprint fingerprint, const Text& fileName, int& distance) const;
    // Whether the entry still says what its file holds; when not, it is replaced or removed.
    bool StillTrue(std::uint32_t entry);
    Bytes IndexLine(const Entry& entry) const;
    // One line more in the index file (the header first when it has none yet).
    Result<void> AppendLine(const Entry& entry);

    const Text folder_;
    const Text indexFile_;
    const int maxDistance_;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::vector<Block> blocks_;
    std::unordered_map<Text, std::uint32_t> byName_;  // the live entries
    bool headerWritten_ = false;                      // the index file starts with kHeader
};

// The keyword an article's file name stands for, as far as the name tells: the name without ".txt"
// and without the "~" and hash that a changed name carries.
Text KeywordOfArticleName(const Text& fileName);

}  // namespace qj
