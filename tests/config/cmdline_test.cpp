#include <korvane/cmdline.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct parsed {
    std::wstring name;
    std::optional<std::wstring> value;
    bool operator==(const parsed&) const = default;
};

// Tokenizes the elements (the program name is added in front) and copies the
// result out, so the vector can be released before the list is inspected.
std::vector<parsed> tokenize(std::vector<std::wstring> elements) {
    elements.insert(elements.begin(), L"korvane");
    std::vector<wchar_t*> argv;
    for (auto& e : elements) {
        argv.push_back(e.data());
    }
    cmdline line(static_cast<int>(argv.size()), argv.data());
    for (auto& e : elements) {
        e.assign(e.size(), L'#');  // the list must hold copies
    }
    std::vector<parsed> out;
    for (auto* a = line.get_next_arg(nullptr); a != nullptr; a = line.get_next_arg(a)) {
        out.push_back({a->name, a->value ? std::optional<std::wstring>(a->value) : std::nullopt});
    }
    return out;
}

parsed plain(std::wstring name) {
    return {std::move(name), std::nullopt};
}
parsed split(std::wstring name, std::wstring value) {
    return {std::move(name), std::move(value)};
}

TEST(Cmdline, EmptyVectorGivesNoArguments) {
    wchar_t program[] = L"korvane";
    wchar_t* argv[] = {program};
    cmdline line(1, argv);
    EXPECT_EQ(line.get_next_arg(nullptr), nullptr);
    cmdline none(0, argv);
    EXPECT_EQ(none.get_next_arg(nullptr), nullptr);
}

TEST(Cmdline, SplitsAtTheFirstEqualsSignInVectorOrder) {
    EXPECT_EQ(
        tokenize({L"-c", L"--create=list.sfv", L"a=b=c", L"a==b", L"a=", L"=b"}),
        (std::vector<parsed>{plain(L"-c"), split(L"--create", L"list.sfv"), split(L"a", L"b=c"),
                             split(L"a", L"=b"), split(L"a", L""), split(L"", L"b")}));
}

TEST(Cmdline, TrimsOnlyTheBlanksNextToTheEqualsSign) {
    EXPECT_EQ(tokenize({L" a = b "}), (std::vector<parsed>{split(L" a", L"b ")}));
    EXPECT_EQ(tokenize({L"\t\n=\v\f\r"}), (std::vector<parsed>{split(L"", L"")}));
    // Units above 0xFF are text, never blanks.
    EXPECT_EQ(tokenize({L"a\x00A0=\x3000x"}), (std::vector<parsed>{split(L"a\x00A0", L"\x3000x")}));
}

TEST(Cmdline, RemovesOneMatchingPairOfQuotes) {
    EXPECT_EQ(tokenize({L"x='y z'", L"x=\"y z\"", L"x='y\"", L"x='", L"x=  'v'", L"x=''a''"}),
              (std::vector<parsed>{split(L"x", L"y z"), split(L"x", L"y z"), split(L"x", L"'y\""),
                                   split(L"x", L""), split(L"x", L"v"), split(L"x", L"'a'")}));
}

TEST(Cmdline, ElementsWithASideOver510UnitsStayWhole) {
    const std::wstring side510(510, L'n');
    const std::wstring side511(511, L'n');
    EXPECT_EQ(tokenize({side510 + L"=v"}), (std::vector<parsed>{split(side510, L"v")}));
    EXPECT_EQ(tokenize({side511 + L"=v"}), (std::vector<parsed>{plain(side511 + L"=v")}));
    EXPECT_EQ(tokenize({L"n=" + side510}), (std::vector<parsed>{split(L"n", side510)}));
    EXPECT_EQ(tokenize({L"n=" + side511}), (std::vector<parsed>{plain(L"n=" + side511)}));
    // The limit counts the raw sides, before blanks are trimmed.
    EXPECT_EQ(tokenize({L"n=" + std::wstring(511, L' ')}),
              (std::vector<parsed>{plain(L"n=" + std::wstring(511, L' '))}));
}

TEST(Cmdline, LongCommandLinesAreReleasedWithoutRecursion) {
    std::vector<std::wstring> many(200000, L"file");
    EXPECT_EQ(tokenize(many).size(), many.size());
}

}  // namespace
