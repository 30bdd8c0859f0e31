// The archive a manifest publishes (size, SHA-256) and the verdict on a downloaded one.
#include <gtest/gtest.h>

#include "common/integrity/expected_archive.h"

namespace vantorix::integrity {
namespace {

TEST(ExpectedArchive, ParsesPublishedValuesAndRefusesMalformedOnes) {
    auto none = ParseExpectedArchive("", "");
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->Any());
    auto both = ParseExpectedArchive("2147483647", "BA7816BF8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_TRUE(both);
    EXPECT_EQ(*both->size, 2147483647u);
    EXPECT_EQ(HexText(*both->sha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (auto [size, hash] : {std::pair{"2147483648", ""}, {"1e3", ""}, {" 1", ""}, {"", "xyz"},
                              {"", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015a"}}) {
        EXPECT_FALSE(ParseExpectedArchive(size, hash)) << size << " / " << hash;
    }
}

TEST(ExpectedArchive, TheVerdictChecksWhatIsPublished) {
    Sha256Digest good{}, bad{};
    good[0] = 1;
    bad[0] = 2;
    const ExpectedArchive nothing{}, size_only{100, std::nullopt}, hash_only{std::nullopt, good}, both{100, good};
    struct Case { const ExpectedArchive& expected; FoundArchive found; ArchiveVerdict verdict; } cases[] = {
        {nothing, {std::nullopt, std::nullopt}, ArchiveVerdict::Matches},  // today's behaviour: no check
        {size_only, {100, std::nullopt}, ArchiveVerdict::Matches},
        {size_only, {99, std::nullopt}, ArchiveVerdict::WrongSize},
        {size_only, {std::nullopt, std::nullopt}, ArchiveVerdict::Unreadable},
        {hash_only, {5, good}, ArchiveVerdict::Matches},
        {hash_only, {5, bad}, ArchiveVerdict::WrongHash},
        {hash_only, {5, std::nullopt}, ArchiveVerdict::Unreadable},
        {both, {100, good}, ArchiveVerdict::Matches},
        {both, {101, good}, ArchiveVerdict::WrongSize},
        {both, {100, bad}, ArchiveVerdict::WrongHash},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Judge(cases[i].expected, cases[i].found), cases[i].verdict) << i;
}

TEST(ExpectedArchive, WithTheMakersKeyBuiltInNothingPassesWithoutAValidSignature) {
    Sha256Digest digest{};
    const std::string signature(64, 's');
    ExpectedArchive signed_only{}, signed_sized{100, std::nullopt, signature}, unsigned_sized{100, std::nullopt, std::nullopt};
    signed_only.signature = signature;
    struct Case { const ExpectedArchive& expected; FoundArchive found; ArchiveVerdict verdict; } cases[] = {
        {signed_only, {5, digest, true}, ArchiveVerdict::Matches},
        {signed_sized, {100, digest, true}, ArchiveVerdict::Matches},
        {signed_only, {5, digest, false}, ArchiveVerdict::BadSignature},
        {signed_sized, {99, std::nullopt, std::nullopt}, ArchiveVerdict::WrongSize},
        {unsigned_sized, {100, digest, std::nullopt}, ArchiveVerdict::MissingSignature},
        {ExpectedArchive{}, {5, digest, std::nullopt}, ArchiveVerdict::MissingSignature},
        {signed_only, {std::nullopt, std::nullopt, std::nullopt}, ArchiveVerdict::Unreadable},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Judge(cases[i].expected, cases[i].found, true), cases[i].verdict) << i;
    // Without a key the signature is not asked for: today's behaviour.
    EXPECT_EQ(Judge(unsigned_sized, {100, std::nullopt, std::nullopt}, false), ArchiveVerdict::Matches);
    // A published signature must be base64 of 64 bytes.
    EXPECT_TRUE(ParseExpectedArchive("", "", std::string(86, 'A') + "=="));
    EXPECT_FALSE(ParseExpectedArchive("", "", "AAAA"));
    EXPECT_FALSE(ParseExpectedArchive("", "", "not base64!"));
}

TEST(ExpectedArchive, Base64OfASignatureDecodesExactlyOrNotAtAll) {
    EXPECT_EQ(DecodeBase64(""), "");
    EXPECT_EQ(DecodeBase64("TWFu"), "Man");
    EXPECT_EQ(DecodeBase64("TWE="), "Ma");
    EXPECT_EQ(DecodeBase64("TQ=="), "M");
    EXPECT_EQ(DecodeBase64("AP8A/w=="), std::string("\0\xff\0\xff", 4));
    for (const char* bad : {"TWF", "TW=u", "T===", "TWFu\n", "TW-u", "=AAA", "TQ==TWFu", "TR==", "TWF="}) EXPECT_FALSE(DecodeBase64(bad)) << bad;
}

}  // namespace
}  // namespace vantorix::integrity
