#include "platform/Md5.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

// RFC 1321, appendix A.5, fed whole and one byte at a time.
TEST(Md5, Rfc1321TestSuite) {
    const std::vector<std::pair<std::string, std::string>> suite = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {[] {
             std::string s;
             for (int i = 0; i < 8; ++i) {
                 s += "1234567890";
             }
             return s;
         }(),
         "57edf4a22be3c955ac49da2e2107b67a"}};
    for (const auto& [text, want] : suite) {
        platform::Md5 whole;
        whole.update(text.data(), text.size());
        EXPECT_EQ(platform::DigestHex(whole.finish()), want) << text;
        platform::Md5 bytewise;
        for (char c : text) {
            bytewise.update(&c, 1);
        }
        EXPECT_EQ(platform::DigestHex(bytewise.finish()), want) << text;
    }
}

// The digest restarts after finish, so one object can hash file after file.
TEST(Md5, StartsAgainAfterFinish) {
    platform::Md5 m;
    m.update("abc", 3);
    (void)m.finish();
    m.update("abc", 3);
    EXPECT_EQ(platform::DigestHex(m.finish()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(m.ok());
}
