// The fetch error record.
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

// Each setter writes its kind and prefix over whatever an earlier one left, cut at the
// record's size; a null text counts as empty.
TEST(ExchangeErrorTest, SettersWriteKindAndPrefixOverAnEarlierError) {
    const std::string longText(3000, 'x');
    for (const SetterCase& earlier : kSetters) {
        for (const SetterCase& c : kSetters) {
            for (const char* text : {"51 Not found", longText.c_str(), static_cast<const char*>(nullptr)}) {
                SCOPED_TRACE(std::string(earlier.name) + " then " + c.name + " " + std::to_string(!text));
                FetchError error;
                std::memset(error.errorText, '#', sizeof error.errorText);
                earlier.setter(error, "a much longer first message text");
                c.setter(error, text);
                EXPECT_EQ(error.errorKind, c.kind);
                EXPECT_EQ(std::string(error.errorText),
                          (std::string(c.prefix) + (text ? text : "")).substr(0, ERROR_TEXT_SIZE - 1));
            }
        }
    }
    FetchError error;
    setServerError(error, "x");
    clearFetchError(error);
    EXPECT_EQ(error.errorKind, 0);
    EXPECT_STREQ(error.errorText, "");
}

TEST(ExchangeErrorTest, RewrappingTheRecordsOwnTextIsSafe) {
    FetchError error;
    setFetchError(error, "DNS lookup failed");
    setNetworkError(error, error.errorText);
    EXPECT_STREQ(error.errorText, "Network error: DNS lookup failed");
}

}  // namespace
