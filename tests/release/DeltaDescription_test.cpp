// Delta lines in the description: what the publisher writes is what launchers read back, and a line
// that is damaged or points anywhere but at the signed content is never taken.
#include "release/DeltaDescription.h"

#include <gtest/gtest.h>

#include "release/ReleaseNames.h"
#include "tests/support/Digests.h"

namespace qr {
namespace {

using test::DigestOf;

NameDeltas Offer(const std::string& newest, const std::vector<std::string>& olds) {
    NameDeltas d;
    d.newest = DigestOf(newest);
    d.whole = CompressedWhole{DigestOf("z:" + newest), CompressedServedName(d.newest.sha256Hex)};
    for (const std::string& old : olds)
        d.deltas.push_back({DigestOf(old), DigestOf("d:" + old + newest), DeltaMethod::ZstdSegmented,
                            DeltaServedName(DigestOf(old).sha256Hex, d.newest.sha256Hex)});
    return d;
}

// A release whose version 102 brings a.dat plain and b.dat in an archive.
DescriptionText Release() {
    return DescriptionText::Parse("[VERSION]\r\nversion=102\r\n[101]\r\n0=a.dat\r\n[101.sha256]\r\n0=" +
                                  FormatDigestLine(DigestOf("a1")) + "\r\n[102]\r\n0=a.dat\r\n1=p102.zip\r\n[102.sha256]\r\n0=" +
                                  FormatDigestLine(DigestOf("a2")) + "\r\n1=" + FormatDigestLine(DigestOf("zip")) +
                                  "\r\n[102.contents]\r\ndata/b.dat=" + FormatDigestLine(DigestOf("b2")) + "\r\n");
}

void ExpectSame(const NameDeltas& a, const NameDeltas& b) {
    EXPECT_EQ(FormatDeltaLine(a), FormatDeltaLine(b));
}

TEST(DeltaDescription, WrittenLinesReadBackForSignedNamesOnly) {
    DescriptionText ini = Release();
    const std::map<std::string, NameDeltas> catalog{{"a.dat", Offer("a2", {"a1", "a0"})},
                                                    {"data/b.dat", Offer("b2", {"b1"})}};
    // Lines of an older version are stale: writing replaces them.
    ini.Set(DeltaSectionName("101", 0), "a.dat", FormatDeltaLine(Offer("a1", {"a0"})));
    WriteDeltaCatalog(ini, "102", catalog);
    EXPECT_FALSE(ini.Find(DeltaSectionName("101", 0)));
    const std::string text = ini.Format();
    const auto read = ReadDeltaCatalog(text);
    ASSERT_EQ(read.size(), 2u);
    ExpectSame(read.at("a.dat"), catalog.at("a.dat"));
    ExpectSame(read.at("data/b.dat"), catalog.at("data/b.dat"));

    // What old launchers read is untouched: the same list, the same digests.
    const DescriptionText parsed = DescriptionText::Parse(text);
    const DownloadListResult list = BuildDownloadList("100", "102", std::cref(parsed));
    EXPECT_EQ(list.names, (std::vector<std::string>{"a.dat", "p102.zip"}));
    const ReleaseManifest before = BuildReleaseManifest(Release().Format());
    EXPECT_EQ(BuildReleaseManifest(text).files.size(), before.files.size());
}

TEST(DeltaDescription, DamagedOrForeignLinesAreIgnored) {
    const std::string head = FormatDigestLine(DigestOf("a2"));
    const std::string old = FormatDigestLine(DigestOf("a1"));
    const std::string good = "zstd-delta " + old + " " + FormatDigestLine(DigestOf("d")) + " " +
                             DeltaServedName(DigestOf("a1").sha256Hex, DigestOf("a2").sha256Hex);
    DescriptionText ini = Release();
    const std::string section = DeltaSectionName("102", 0);
    // Not the signed content, not a signed name, a name the launcher refuses.
    ini.Set(section, "a.dat", FormatDigestLine(DigestOf("a-other")) + ";" + good);
    ini.Set(section, "c.dat", head + ";" + good);
    ini.Set(section, "../a.dat", head + ";" + good);
    ini.Set(section, "data/b.dat", "not a digest;" + good);
    auto read = ReadDeltaCatalog(ini, BuildReleaseManifest(ini.Format()));
    EXPECT_TRUE(read.empty());

    // Records: unknown methods, foreign served names, upper-case digits and short lines are left out,
    // the good one beside them is kept.
    ini = Release();
    const std::string bad[] = {
        "bsdiff " + old + " " + FormatDigestLine(DigestOf("d")) + " " + DeltaServedName(DigestOf("a1").sha256Hex, DigestOf("a2").sha256Hex),
        "zstd-delta " + old + " " + FormatDigestLine(DigestOf("d")) + " ../../PatchInfo.ini",
        "zstd-delta " + old + " " + FormatDigestLine(DigestOf("d")) + " a.dat",
        "zstd-delta " + old + " " + FormatDigestLine(DigestOf("d")) + " qrdelta/" + std::string(32, 'A') + "-" +
            std::string(32, 'a') + ".qrdelta",
        "zstd-delta " + old + " " + FormatDigestLine(DigestOf("d")),
        "zstd " + FormatDigestLine(DigestOf("z")) + " qrdelta/x.qrzst",
        "zstd-delta " + old + " " + FormatDigestLine(DigestOf("d")) + " " +
            DeltaServedName(DigestOf("a1").sha256Hex, DigestOf("a2").sha256Hex) + " ",
    };
    std::string line = head;
    for (const std::string& record : bad) line += ";" + record;
    ini.Set(section, "a.dat", line + ";" + good);
    read = ReadDeltaCatalog(ini, BuildReleaseManifest(ini.Format()));
    ASSERT_EQ(read.count("a.dat"), 1u);
    ASSERT_EQ(read.at("a.dat").deltas.size(), 1u);
    EXPECT_EQ(read.at("a.dat").deltas[0].servedName, DeltaServedName(DigestOf("a1").sha256Hex, DigestOf("a2").sha256Hex));
    EXPECT_FALSE(read.at("a.dat").whole);

    // A line offering more deltas than any launcher tries keeps the first ones.
    line = head;
    for (size_t i = 0; i < kMaxDeltasPerName + 3; ++i) line += ";" + good;
    ini.Set(section, "a.dat", line);
    read = ReadDeltaCatalog(ini, BuildReleaseManifest(ini.Format()));
    EXPECT_EQ(read.at("a.dat").deltas.size(), kMaxDeltasPerName);
}

TEST(DeltaDescription, ServedNamesHaveOneShape) {
    const std::string a = DigestOf("a").sha256Hex, b = DigestOf("b").sha256Hex;
    EXPECT_TRUE(IsDeltaServedName(DeltaServedName(a, b)));
    EXPECT_TRUE(IsDeltaServedName(CompressedServedName(b)));
    EXPECT_NE(DeltaServedName(a, b), DeltaServedName(b, a));
    for (const std::string& name : {std::string("qrdelta/") + a + ".qrzst", std::string("x/") + a.substr(0, 32) + ".qrzst",
                                    "qrdelta/" + a.substr(0, 32) + ".qrdelta", "qrdelta/" + a.substr(0, 32) + "-.qrdelta",
                                    "qrdelta/../" + a.substr(0, 29) + ".qrzst", std::string("qrdelta/")})
        EXPECT_FALSE(IsDeltaServedName(name)) << name;
    // Served beside the items, yet never a game file.
    EXPECT_FALSE(GameFileRefusal(DeltaServedName(a, b)).empty());
    EXPECT_FALSE(PublishRefusal(CompressedServedName(a)).empty());
}

// 2,400 files of 200-byte names, each with its whole file and three deltas.
TEST(DeltaDescription, ALargeTreeFitsTheDescriptionAndTheKeyLimit) {
    std::string contents;
    std::map<std::string, NameDeltas> catalog;
    for (int i = 0; i < 2400; ++i) {
        std::string name = "data/" + std::to_string(i) + "/";
        name += std::string(kLongestPublishedName - name.size() - 4, 'n') + ".dat";
        const std::string n = std::to_string(i);
        catalog[name] = Offer("new" + n, {"o1" + n, "o2" + n, "o3" + n});
        contents += name + "=" + FormatDigestLine(catalog[name].newest) + "\r\n";
    }
    DescriptionText ini = DescriptionText::Parse("[VERSION]\r\nversion=101\r\n[101]\r\n0=p101.zip\r\n[101.sha256]\r\n0=" +
                                                 FormatDigestLine(DigestOf("zip")) + "\r\n[101.contents]\r\n" + contents);
    WriteDeltaCatalog(ini, "101", catalog);
    for (const IniSection& section : ini.sections()) {
        if (section.name.find(".deltas.") != std::string::npos) {
            EXPECT_LE(section.entries.size(), kDeltaLinesPerSection);
        }
    }
    EXPECT_TRUE(ini.Find(DeltaSectionName("101", 2)));
    const std::string text = ini.Format();
    EXPECT_LT(text.size(), kMaxDescriptionBytes / 4);
    EXPECT_EQ(ReadDeltaCatalog(text).size(), catalog.size());
}

}  // namespace
}  // namespace qr
