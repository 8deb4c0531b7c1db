// The patch's two sides together: whatever pair of files goes in, the applier makes the new one
// exactly; a patch that was changed on the way is refused, never half-applied into a wrong file.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "TempDir.h"
#include "framework/File.h"
#include "support/patch/PatchApply.h"
#include "support/patch/PatchDiff.h"

namespace {

class CStringOutput final : public IPatchOutput {
public:
    void Write(const unsigned char* data, std::size_t size) override { made.append(reinterpret_cast<const char*>(data), size); }
    std::string made;
};

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

/// Code-like bytes: instructions with 32-bit absolute addresses, as a linker lays them out.
std::string CodeLike(std::size_t instructions, std::uint32_t imageBase, unsigned seed)
{
    std::mt19937 random(seed);
    std::string code;
    for (std::size_t i = 0; i < instructions; ++i) {
        code += static_cast<char>(0xE8 + random() % 4);
        const std::uint32_t address = imageBase + static_cast<std::uint32_t>(random() % 4096) * 16;
        for (int b = 0; b < 4; ++b)
            code += static_cast<char>(address >> (8 * b));
        code += static_cast<char>(random() % 8);
    }
    return code;
}

std::string Diff(const std::string& before, const std::string& after)
{
    return MakePatch(reinterpret_cast<const unsigned char*>(before.data()), before.size(),
                     reinterpret_cast<const unsigned char*>(after.data()), after.size());
}

struct Applied {
    PatchResult result;
    std::string made;
};

Applied Apply(const TempDir& dir, const std::string& before, const std::string& patchBytes)
{
    WriteWholeFile(dir / "old.bin", before);
    WriteWholeFile(dir / "patch.bin", patchBytes);
    kvo::CFile oldFile;
    kvo::CFile patchFile;
    EXPECT_TRUE(oldFile.Open((dir / "old.bin").c_str(), kvo::CFile::modeRead));
    EXPECT_TRUE(patchFile.Open((dir / "patch.bin").c_str(), kvo::CFile::modeRead));
    CStringOutput output;
    const PatchResult result = ApplyPatch(patchFile, oldFile, output);
    return {result, output.made};
}

struct Pair {
    const char* name;
    std::string before;
    std::string after;
};

std::vector<Pair> GeneratedPairs()
{
    const std::string base = RandomBytes(200000, 1);
    std::string inserted = base;
    inserted.insert(70000, RandomBytes(3000, 2));
    std::string deleted = base;
    deleted.erase(120000, 25000);
    std::string moved = base.substr(100000) + base.substr(0, 100000);
    std::string edited = base;
    for (std::size_t at = 1000; at < edited.size(); at += 9973)
        edited[at] = static_cast<char>(edited[at] ^ 0x5A);
    // A rebuilt program: code grew in the middle, so every address after it moved by 0x40.
    const std::string code = CodeLike(40000, 0x00400000, 3);
    std::string rebuilt = CodeLike(20000, 0x00400000, 3);
    rebuilt += RandomBytes(64, 4);
    rebuilt += CodeLike(40000, 0x00400040, 3).substr(120000);
    const std::string text(5000, 'a');
    return {
        {"insertion", base, inserted},
        {"deletion", base, deleted},
        {"moved blocks", base, moved},
        {"scattered edits", base, edited},
        {"rebuilt program", code, rebuilt},
        {"identical", base, base},
        {"empty to something", "", RandomBytes(1000, 5)},
        {"something to empty", RandomBytes(1000, 6), ""},
        {"both empty", "", ""},
        {"one byte each", "x", "y"},
        {"long runs", text, text + "b" + text},
        {"unrelated", RandomBytes(5000, 7), RandomBytes(7000, 8)},
    };
}

TEST(PatchRoundTrip, EveryPairIsMadeExactly)
{
    TempDir dir;
    for (const Pair& pair : GeneratedPairs()) {
        SCOPED_TRACE(pair.name);
        const std::string patchBytes = Diff(pair.before, pair.after);
        const Applied applied = Apply(dir, pair.before, patchBytes);
        EXPECT_EQ(applied.result, PatchResult::applied);
        EXPECT_TRUE(applied.made == pair.after) << applied.made.size() << " bytes made, " << pair.after.size()
                                                << " expected";
    }
}

TEST(PatchRoundTrip, SimilarFilesGiveSmallPatches)
{
    // Not a benchmark: a patch that carried the whole file would defeat its purpose.
    for (const Pair& pair : GeneratedPairs()) {
        const std::string name = pair.name;
        if (name == "insertion" || name == "deletion" || name == "moved blocks" || name == "identical") {
            SCOPED_TRACE(name);
            EXPECT_LT(Diff(pair.before, pair.after).size(), pair.after.size() / 20);
        }
    }
}

TEST(PatchRoundTrip, ChangedPatchesAreRefused)
{
    TempDir dir;
    const std::string before = RandomBytes(50000, 9);
    std::string after = before;
    after.insert(20000, "a new block of bytes that the old file does not hold");
    const std::string good = Diff(before, after);

    EXPECT_EQ(Apply(dir, before, "not a patch at all, just text").result, PatchResult::notAPatch);
    EXPECT_EQ(Apply(dir, before + "x", good).result, PatchResult::wrongOldFile);
    EXPECT_EQ(Apply(dir, before, good.substr(0, good.size() - 1)).result, PatchResult::corrupt);
    EXPECT_EQ(Apply(dir, before, good + "x").result, PatchResult::corrupt);
    // Every single flipped byte after the header either fails or, where zlib cannot tell, still
    // gives a file of the promised length (the caller's hash then refuses it).
    for (std::size_t at = 48; at < good.size(); at += 7) {
        std::string broken = good;
        broken[at] = static_cast<char>(broken[at] ^ 0x01);
        const Applied applied = Apply(dir, before, broken);
        if (applied.result == PatchResult::applied) {
            EXPECT_EQ(applied.made.size(), after.size());
        }
    }
}

TEST(PatchRoundTrip, EverySeedOfTheFuzzerIsAPatchOfItsOldFile)
{
    // The seeds are written by tools/make_patch_seeds.py, a second writer of the format.
    TempDir dir;
    const char* const seeds[] = {"insert.seed", "from-empty.seed", "first-move.seed", "identical.seed"};
    for (const char* name : seeds) {
        SCOPED_TRACE(name);
        const std::string seed = ReadWholeFile(std::string(KVO_PATCH_CORPUS_DIR) + "/" + name);
        ASSERT_GT(seed.size(), 2u);
        const std::size_t oldLength = static_cast<unsigned char>(seed[0]) | static_cast<std::size_t>(
                                                                                static_cast<unsigned char>(seed[1])) << 8;
        EXPECT_EQ(Apply(dir, seed.substr(2, oldLength), seed.substr(2 + oldLength)).result, PatchResult::applied);
    }
}

}  // namespace
