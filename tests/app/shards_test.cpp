// Which shard takes what: parsing, the schedulers' variables, the split of a
// list's entries and of a walk's files, and the text of a results file.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "shard_results.h"
#include "shards.h"

namespace korvane::app {
namespace {

using variables = std::map<std::string, std::string>;

shard_from_environment from(const variables& set) {
    return shard_of_environment([&set](const char* name) -> std::optional<std::string> {
        const auto found = set.find(name);
        return found == set.end() ? std::nullopt : std::optional<std::string>(found->second);
    });
}

TEST(Shards, OnlyWellFormedChoicesParse) {
    shard_choice choice;
    ASSERT_TRUE(parse_shard(L"3/4", choice));
    EXPECT_EQ(choice.index, 3u);
    EXPECT_EQ(choice.count, 4u);
    ASSERT_TRUE(parse_shard(L"auto", choice));
    EXPECT_TRUE(choice.automatic);
    for (const wchar_t* bad :
         {L"0/4", L"5/4", L"1/0", L"", L"/", L"1/", L"/4", L"+1/4", L"1/4 ", L" 1/4", L"1/4/4",
          L"-1/4", L"a/4", L"1/1000001", L"Auto", L"99999999999999999999/4"}) {
        EXPECT_FALSE(parse_shard(bad, choice)) << bad;
    }
}

TEST(Shards, SlurmArraysGiveTheirPlaceAndRefuseGaps) {
    variables slurm{{"SLURM_ARRAY_TASK_ID", "7"},
                    {"SLURM_ARRAY_TASK_MIN", "3"},
                    {"SLURM_ARRAY_TASK_MAX", "9"},
                    {"SLURM_ARRAY_TASK_STEP", "2"},
                    {"SLURM_ARRAY_TASK_COUNT", "4"}};
    shard_from_environment found = from(slurm);
    EXPECT_TRUE(found.error.empty()) << found.error.c_str();
    EXPECT_EQ(found.index, 3u);  // 3, 5, 7, 9
    EXPECT_EQ(found.count, 4u);
    EXPECT_EQ(found.scheduler, L"Slurm");
    // --array=1,2,5: three tasks, the range says five.
    variables gaps{{"SLURM_ARRAY_TASK_ID", "2"},
                   {"SLURM_ARRAY_TASK_MIN", "1"},
                   {"SLURM_ARRAY_TASK_MAX", "5"},
                   {"SLURM_ARRAY_TASK_STEP", "1"},
                   {"SLURM_ARRAY_TASK_COUNT", "3"}};
    EXPECT_FALSE(from(gaps).error.empty());
    slurm["SLURM_ARRAY_TASK_ID"] = "4";  // not on a step
    EXPECT_FALSE(from(slurm).error.empty());
    slurm.erase("SLURM_ARRAY_TASK_COUNT");
    EXPECT_FALSE(from(slurm).error.empty());
    EXPECT_FALSE(from({}).error.empty());
}

TEST(Shards, TaskNumbersNeedTheCountAndTheInnermostSchedulerWins) {
    EXPECT_FALSE(from({{"PARALLEL_SEQ", "2"}}).error.empty());
    shard_from_environment found =
        from({{"PARALLEL_SEQ", "2"}, {"KORVANE_SHARDS", "8"}, {"SLURM_ARRAY_TASK_ID", "1"}});
    EXPECT_TRUE(found.error.empty());
    EXPECT_EQ(found.index, 2u);
    EXPECT_EQ(found.count, 8u);
    EXPECT_EQ(found.scheduler, L"GNU parallel");
    EXPECT_EQ(found.also_set, L"Slurm");
    found = from({{"JOB_COMPLETION_INDEX", "0"}, {"KORVANE_SHARDS", "3"}});
    EXPECT_EQ(found.index, 1u);  // indexed Jobs count from 0
    EXPECT_FALSE(from({{"JOB_COMPLETION_INDEX", "3"}, {"KORVANE_SHARDS", "3"}}).error.empty());
    EXPECT_FALSE(from({{"PARALLEL_SEQ", "0"}, {"KORVANE_SHARDS", "3"}}).error.empty());
    EXPECT_FALSE(from({{"PARALLEL_SEQ", "x"}, {"KORVANE_SHARDS", "3"}}).error.empty());
}

// The shards of `sizes` split `count` ways.
std::vector<std::uint32_t> split_of(const std::vector<std::uint64_t>& sizes, std::uint32_t count,
                                    bool by_size) {
    std::uint64_t total = 0;
    for (std::uint64_t size : sizes) {
        total += size;
    }
    entry_split split(count, sizes.size(), total, by_size);
    std::vector<std::uint32_t> owners;
    for (std::uint64_t size : sizes) {
        owners.push_back(split.next(size));
    }
    return owners;
}

TEST(Shards, EntriesSplitIntoContiguousRunsOfEqualWeight) {
    // Counts: 10 entries, 3 shards: every entry once, in order, 3 to 4 each.
    std::vector<std::uint32_t> owners = split_of(std::vector<std::uint64_t>(10, 0), 3, false);
    EXPECT_EQ(owners, (std::vector<std::uint32_t>{1, 1, 1, 2, 2, 2, 2, 3, 3, 3}));
    // Sizes: one large file weighs as much as many small ones.
    std::vector<std::uint64_t> sizes(100, 1000);
    sizes.push_back(100 * (1000 + entry_split::file_cost));
    owners = split_of(sizes, 2, true);
    EXPECT_EQ(owners.back(), 2u);
    EXPECT_EQ(std::count(owners.begin(), owners.end(), 2u), 1);
    // More shards than entries: some get none, none is out of range.
    owners = split_of({5, 5}, 8, true);
    for (std::uint32_t owner : owners) {
        EXPECT_GE(owner, 1u);
        EXPECT_LE(owner, 8u);
    }
    EXPECT_TRUE(std::is_sorted(owners.begin(), owners.end()));
}

TEST(Shards, FilesSpreadEvenlyByTheirPathAlone) {
    std::vector<int> per_shard(4);
    for (int i = 0; i < 4000; ++i) {
        const std::wstring path = L"photos/" + std::to_wstring(i) + L".jpg";
        const std::uint32_t shard = shard_of_path(path, 4);
        ASSERT_EQ(shard, shard_of_path(path, 4));
        ++per_shard.at(shard - 1);
    }
    for (int count : per_shard) {
        EXPECT_NEAR(count, 1000, 120);
    }
}

TEST(Shards, ResultsTextKeepsEveryUnitAndRefusesMalformedEscapes) {
    std::wstring text = L"a b%c\n\x7f\x01z";
    text += static_cast<wchar_t>(0xE9);
    std::wstring back;
    const std::string encoded = encode_text(text);
    EXPECT_EQ(encoded.find(' '), std::string::npos);
    ASSERT_TRUE(decode_text(encoded, back));
    EXPECT_EQ(back, text);
    for (const char* bad : {"%", "%4", "%G0", "%00", "a%u"}) {
        EXPECT_FALSE(decode_text(bad, back)) << bad;
    }
    std::uint64_t number = 0;
    EXPECT_TRUE(number_field("18446744073709551615", number));
    EXPECT_FALSE(number_field("18446744073709551616", number));
    EXPECT_FALSE(number_field("-1", number));
}

}  // namespace
}  // namespace korvane::app
