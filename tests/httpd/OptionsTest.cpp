// Options from the argument vector and a configuration file, the usage text and fatal start-up errors.

#include "tests/httpd/HttpdTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace httpdtest;

namespace {

httpd_context* init(std::vector<std::string> args) {
    static std::vector<std::string> storage;
    static std::vector<char*> argv;
    storage = args;
    argv.clear();
    for (std::string& arg : storage)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    return httpd_init(static_cast<int>(storage.size()), argv.data());
}

TEST(OptionsTest, DefaultsAreSafe) {
    httpd_context* ctx = init({"prog", "-ports", ""});
    EXPECT_EQ(ctx->options[OPT_ROOT], nullptr);
    EXPECT_EQ(ctx->options[OPT_DIR_LIST], nullptr);
    EXPECT_EQ(ctx->options[OPT_CGI_EXT], nullptr);
    EXPECT_EQ(ctx->options[OPT_SSI_EXT], nullptr);
    EXPECT_STREQ(ctx->options[OPT_SSL_CIPHERS], "HIGH:!aNULL:!MD5");
    EXPECT_STREQ(ctx->options[OPT_THREADS], "1");
    httpd_fini(ctx);
}

TEST(OptionsTest, NoConfigurationFileUnlessNamed) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("tarvik.conf"), "root /etc\n");
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    httpd_context* ctx = init({(dir.path() + "/prog").c_str(), "-ports", ""});
    EXPECT_EQ(ctx->options[OPT_ROOT], nullptr);
    httpd_fini(ctx);
    ASSERT_EQ(chdir(cwd), 0);
}

TEST(OptionsTest, NamedConfigurationFileIsOverriddenByArguments) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("my.conf"),
                           "# comment\n\nports 0 # web\nroot /srv/a\nindex_files   a.html\n");
    httpd_context* ctx = init({"prog", "-root", "/srv/b", dir.file("my.conf")});
    EXPECT_STREQ(ctx->options[OPT_PORTS], "0 ");
    EXPECT_STREQ(ctx->options[OPT_ROOT], "/srv/b");
    EXPECT_STREQ(ctx->options[OPT_INDEX_FILES], "a.html");
    httpd_fini(ctx);
}

TEST(OptionsTest, BadArgumentsAndFilesAreFatal) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("bad.conf"), "root /x\nports\n");
    testsupport::writeFile(dir.file("unknown.conf"), "colour blue\n");
    EXPECT_EXIT(init({"prog", "-ports"}), ::testing::ExitedWithCode(1),
                "usage: prog \\[options\\] \\[config_file\\]");
    EXPECT_EXIT(init({"prog", "a.conf", "b.conf"}), ::testing::ExitedWithCode(1), "TARVIK version 1.41");
    EXPECT_EXIT(init({"prog", "-ports", "", dir.file("bad.conf")}), ::testing::ExitedWithCode(1),
                "line 2 in .*bad.conf is invalid");
    EXPECT_EXIT(init({"prog", dir.file("unknown.conf")}), ::testing::ExitedWithCode(1),
                "no such option: \\[colour\\]");
    EXPECT_EXIT(init({"prog", dir.file("missing.conf")}), ::testing::ExitedWithCode(1),
                "cannot open config file .*missing.conf: No such file");
    EXPECT_EXIT(init({"prog", "-ports", "", "-uid", "no-such-user-here"}), ::testing::ExitedWithCode(1),
                "set_uid: unknown user \\[no-such-user-here\\]");
    EXPECT_EXIT(init({"prog", "-ports", "", "-error_log", "/nonexistent/dir/e.log"}),
                ::testing::ExitedWithCode(1), "cannot open log file /nonexistent/dir/e.log");
    EXPECT_EXIT(init({"prog", "-ports", "0,0s"}), ::testing::ExitedWithCode(1),
                "cannot add SSL socket, please specify certificate file");
}

TEST(OptionsTest, UsageListsEveryOptionWithItsDefault) {
    EXPECT_EXIT(
        print_usage("prog"), ::testing::ExitedWithCode(1),
        "  -A <htpasswd_file> <realm> <user> <passwd>\n  -root\t\tWeb root directory\n  -index_files\tIndex "
        "files \\(default: index.html,index.htm,index.php,index.cgi\\)\n");
}

TEST(OptionsTest, TruthWordsAreExact) {
    for (const char* word : {"1", "yes", "true", "jawohl"})
        EXPECT_TRUE(is_true_word(word)) << word;
    for (const char* word : {"Yes", "TRUE", "0", "no", "", " yes"})
        EXPECT_FALSE(is_true_word(word)) << word;
    EXPECT_FALSE(is_true_word(nullptr));
}

TEST(OptionsTest, ListItemsSplitAtBlanksAndCommas) {
    struct {
        const char* value;
        std::vector<std::string> items;
    } cases[] = {
        {"a,b  c,,d", {"a", "b", "c", "d"}}, {" a,b", {}}, {",a", {}}, {"8080s", {"8080s"}}, {"", {}}};
    for (const auto& c : cases) {
        std::vector<std::string> items;
        const char* list = c.value;
        httpd_vec item;
        while (next_list_item(&list, &item))
            items.emplace_back(item.ptr, item.len);
        EXPECT_EQ(items, c.items) << c.value;
    }
}

TEST(OptionsTest, PortsSetterReplacesListeners) {
    TestServer server({"-ports", "0,0"});
    int count = 0;
    LIST_FOREACH(&server.ctx->listeners, entry, next)++ count;
    EXPECT_EQ(count, 2);
    httpd_set_option(server.ctx, "ports", "0");
    count = 0;
    LIST_FOREACH(&server.ctx->listeners, entry, next)++ count;
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(server.ctx->options[OPT_PORTS], "0");
}

TEST(OptionsTest, WorkerThreadsServeConnections) {
    TestServer server({"-threads", "3"});
    server.start();
    for (int i = 0; i < 6; ++i) {
        Client client(server.port());
        client.send("GET /x HTTP/1.0\r\n\r\n");
        std::vector<Reply> replies = client.replies(1);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status(), 404);
    }
}

} // namespace
