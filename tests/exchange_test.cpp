// The fetch error record and the program's exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/exchange.h"

namespace {

using Setter = void (*)(FetchError&, const char*);

struct SetterCase {
    const char* name;
    Setter setter;
    int32_t kind;
    const char* prefix;
};

const SetterCase kSetters[] = {
    {"fetch", setFetchError, FETCH_ERROR, ""},
    {"network", setNetworkError, FETCH_NETWORK_ERROR, "Network error: "},
    {"server", setServerError, FETCH_SERVER_ERROR, "Server error: "},
};

TEST(ExchangeErrorTest, SettersFormatTheirKindAndPrefix) {
    for (const SetterCase& c : kSetters) {
        SCOPED_TRACE(c.name);
        FetchError error;
        c.setter(error, "51 Not found");
        EXPECT_EQ(error.errorKind, c.kind);
        EXPECT_EQ(std::string(error.errorText), std::string(c.prefix) + "51 Not found");
    }
}

TEST(ExchangeErrorTest, LongTextsAreCutAtTheRecordSize) {
    const std::string longText(3000, 'x');
    for (const SetterCase& c : kSetters) {
        SCOPED_TRACE(c.name);
        FetchError error;
        std::memset(error.errorText, '#', sizeof error.errorText);
        c.setter(error, longText.c_str());
        const std::string expected = (std::string(c.prefix) + longText).substr(0, ERROR_TEXT_SIZE - 1);
        ASSERT_EQ(std::strlen(error.errorText), static_cast<size_t>(ERROR_TEXT_SIZE - 1));
        EXPECT_EQ(std::string(error.errorText), expected);
    }
}

TEST(ExchangeErrorTest, LaterSetterOverwritesEarlierOne) {
    for (const SetterCase& first : kSetters) {
        for (const SetterCase& second : kSetters) {
            SCOPED_TRACE(std::string(first.name) + " then " + second.name);
            FetchError error;
            first.setter(error, "a much longer first message text");
            second.setter(error, "short");
            EXPECT_EQ(error.errorKind, second.kind);
            EXPECT_EQ(std::string(error.errorText), std::string(second.prefix) + "short");
        }
    }
}

TEST(ExchangeErrorTest, RewrappingTheRecordsOwnTextIsSafe) {
    FetchError error;
    setFetchError(error, "DNS lookup failed");
    setNetworkError(error, error.errorText);
    EXPECT_STREQ(error.errorText, "Network error: DNS lookup failed");
}

TEST(ExchangeErrorTest, NullTextAndClear) {
    FetchError error;
    setServerError(error, nullptr);
    EXPECT_STREQ(error.errorText, "Server error: ");
    clearFetchError(error);
    EXPECT_EQ(error.errorKind, 0);
    EXPECT_STREQ(error.errorText, "");
}

TEST(ExchangeTest, ProgramHasOneExchange) {
    FetchExchange& a = fetchExchange();
    FetchExchange& b = fetchExchange();
    EXPECT_EQ(&a, &b);
}

}  // namespace
