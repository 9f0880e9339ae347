// link/keys_test.cpp - the link's key files and allow-lists (each refusal
// with the file and line it names), and which endpoints count as staying
// on this machine.
#include <gtest/gtest.h>

#if ZERA_LINK_TESTS && !defined(_WIN32)
#include <cstdlib>

#include <fstream>
#include <set>
#include <string>

#include "link_keys.h"

namespace {

TEST(LinkKeys, OnlyLoopbackEndpointsStayOnThisMachine) {
    const std::pair<const char *, bool> cases[] = {
        {"tcp://127.0.0.1:5570", true}, {"tcp://127.3.2.1:*", true},  {"tcp://[::1]:5570", true},
        {"tcp://localhost:5570", true}, {"ipc:///tmp/x.sock", true},   {"inproc://x", true},
        {"tcp://*:5570", false},        {"tcp://0.0.0.0:5570", false}, {"tcp://[::]:5570", false},
        {"tcp://10.0.0.1:5570", false}, {"tcp://eth0:5570", false},    {"tcp://128.0.0.1:1", false},
        {"tcp://127.0.0.1;10.0.0.2:5570", false}, {"pgm://x", false},  {"", false},
    };
    for (const auto &c : cases) EXPECT_EQ(zlink::IsLoopbackEndpoint(c.first), c.second) << c.first;
}

class LinkKeyFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/zera_keys_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string Write(const std::string &name, const std::string &text) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::string dir;
};

// Files that are no key files, and allow-lists that allow nobody or hold a
// secret, are refused with the file (and line) named; *out is untouched.
// Good allow-lists come from a file or a folder.
TEST_F(LinkKeyFiles, BadFilesAreRefusedNamingTheLine) {
    zlink::KeyPair a, b;
    std::string error;
    ASSERT_TRUE(zlink::WriteKeyPair(dir + "/a", &a, &error));
    ASSERT_TRUE(zlink::WriteKeyPair(dir + "/b", &b, &error));
    const std::string mixed = Write("mixed.key", "public-key = " + a.publicKey + "\nsecret-key = " + b.secretKey + "\n");
    const std::string shortKey = Write("short.key", "# comment\n\npublic-key = " + a.publicKey.substr(1) + "\n");
    const std::string other = Write("other.key", "user = x\n");
    zlink::KeyPair out;
    out.publicKey = "untouched";
    EXPECT_FALSE(zlink::ReadKeyFile(mixed, true, &out, &error));
    EXPECT_EQ(error, "'" + mixed + "': the public key is not the secret key's");
    EXPECT_FALSE(zlink::ReadKeyFile(shortKey, false, &out, &error));
    EXPECT_EQ(error, shortKey + ":3: not a key line (public-key = <40 Z85 characters>)");
    EXPECT_FALSE(zlink::ReadKeyFile(other, false, &out, &error));
    EXPECT_EQ(error, other + ":1: not a key line (public-key = <40 Z85 characters>)");
    EXPECT_FALSE(zlink::ReadKeyFile(dir + "/none", false, &out, &error));
    EXPECT_EQ(error, "cannot read '" + dir + "/none'");
    EXPECT_FALSE(zlink::ReadKeyFile(dir + "/a.pub", true, &out, &error));
    EXPECT_EQ(error, "'" + dir + "/a.pub' holds no secret-key line (zera keygen writes a key pair file)");
    EXPECT_EQ(out.publicKey, "untouched");

    std::set<std::string> keys{"untouched"};
    EXPECT_FALSE(zlink::ReadAllowList(dir + "/a.key", &keys, &error));
    EXPECT_EQ(error, "'" + dir + "/a.key' holds a secret key: an allow-list holds public keys only");
    EXPECT_FALSE(zlink::ReadAllowList(Write("empty", "# nobody\n"), &keys, &error));
    EXPECT_EQ(error, "the allow-list '" + dir + "/empty' allows no key");
    EXPECT_EQ(keys, std::set<std::string>{"untouched"});
    // A folder gives its *.pub files (not the .key files); a file its key lines and bare keys.
    ASSERT_TRUE(zlink::ReadAllowList(dir, &keys, &error)) << error;
    EXPECT_EQ(keys, (std::set<std::string>{a.publicKey, b.publicKey}));
    ASSERT_TRUE(zlink::ReadAllowList(Write("list", "public-key = " + a.publicKey + "\n " + b.publicKey + "\n"), &keys,
                                     &error));
    EXPECT_EQ(keys, (std::set<std::string>{a.publicKey, b.publicKey}));
}

}  // namespace
#endif
