#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "env/messages.h"
#include "env/product_conf.h"
#include "harness/sandbox.h"

namespace {

TEST(ProductConf, KeyValueSyntaxLineEndsAndMissingFile) {
    SKIP_UNLESS_ROOT();
    struct Case {
        std::optional<std::string> text;  // none: no configuration file
        std::vector<const char*> keys;
        std::string expected;  // "key=[value]" or "key=<none>" per key
    };
    const Case cases[] = {
        {"PRODUCT_ROOT_D=/opt/x\n  HTTPD_CONF_D \t /etc/a  \nHTTPD_VHOSTS_D /var/www/vhosts #comment\n"
         "DUMP_D /a b\nPRODUCT_ROOT_D_OLD /old\nQMAIL_ROOT_D\nQMAIL_ROOT_D /q1\nQMAIL_ROOT_D /q2\n"
         "httpd_bin_d /lower\n",
         {"PRODUCT_ROOT_D", "HTTPD_CONF_D", "HTTPD_VHOSTS_D", "DUMP_D", "QMAIL_ROOT_D", "HTTPD_BIN_D"},
         "PRODUCT_ROOT_D=<none>\nHTTPD_CONF_D=[/etc/a]\nHTTPD_VHOSTS_D=[/var/www/vhosts #comment]\n"
         "DUMP_D=[/a b]\nQMAIL_ROOT_D=[/q1]\nHTTPD_BIN_D=<none>\n"},
        {"PRODUCT_ROOT_D\t/opt/x\r\nDUMP_D /d \r\nWEB_STAT /w  ", {"PRODUCT_ROOT_D", "DUMP_D", "WEB_STAT"},
         "PRODUCT_ROOT_D=[/opt/x]\nDUMP_D=[/d]\nWEB_STAT=[/w  ]\n"},
        {std::string("A /a\0B /b\nLOGROTATE", 20), {"B", "LOGROTATE", "A"}, "B=[/b]\nLOGROTATE=<none>\nA=[/a]\n"},
        {"", {"PRODUCT_ROOT_D"}, "PRODUCT_ROOT_D=<none>\n"},
        {std::nullopt, {"PRODUCT_ROOT_D"}, "PRODUCT_ROOT_D=<none>\n"},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        if (c.text) sandbox.writeFile("/etc/zev/zev.conf", *c.text);
        Outcome r = runInSandbox(sandbox, [&] {
            for (const char* key : c.keys) {
                const char* value = get_conf_value(key);
                std::printf("%s=%s\n", key, value ? ("[" + std::string(value) + "]").c_str() : "<none>");
            }
        });
        EXPECT_EQ(r.out, c.expected);
    }
}

TEST(ProductConf, LoadSetsKeysAndDerivedPathsCutOnlyInFixedBuffers) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    sandbox.writeProductConf("", "/opt/zev");
    Outcome r = runInSandbox(sandbox, [] {
        load_product_conf();
        const char* first = PRODUCT_ROOT_D;
        load_product_conf();  // a second call changes nothing
        std::printf("%s|%d|%s|%s|%s|%s|%s\n", PRODUCT_ROOT_D, first == PRODUCT_ROOT_D, DRWEB_ETC_D,
                    PRODUCT_SETTINGS_FILE, DNS_UTILITY, SERVICE_CONF_UTILITY, CERTIFICATES_D);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "/opt/zev|1|/etc/drweb|/opt/zev/admin/conf/settings|/opt/zev/admin/bin/zev-dns|"
              "/opt/zev/admin/bin/zev-chkconfig|/opt/zev/var/certificates\n");

    sandbox.writeProductConf("", "/" + std::string(5000, 'r'));
    r = runInSandbox(sandbox, [] {
        load_product_conf();
        std::printf("%zu %zu %zu", std::strlen(SERVICE_CONF_UTILITY), std::strlen(PRODUCT_SETTINGS_FILE),
                    std::strlen(CERTIFICATES_D));
    });
    EXPECT_EQ(r.out, "4095 4095 5018");
}

// The first missing (or empty) key in loading order is reported, with its
// own text.
TEST(ProductConf, MissingKeyMessages) {
    SKIP_UNLESS_ROOT();
    struct Case {
        const char* omit;
        int errnoAtLoad;
        std::string expected;
    };
    const Case cases[] = {
        {"HTTPD_CONF_D", ENOENT, "verstally: Error: HTTPD_CONF_D not defined\n"},
        {"FTPD_BIN_D", 0, "verstally: Error: FTPD_BIN_D not defined in product config file\n"},
        {"FTPD_BIN_D", EACCES,
         std::string("verstally: Error: FTPD_BIN_D not defined in product config file\nSystem error 13: ") +
             std::strerror(EACCES) + "\n"},
        {"MYSQL_BIN_D", 0, "verstally: Error: MYSQL_BIN_D not defined\n"},
        {"MYSQL_BIN_D", ENOENT,
         std::string("verstally: Error: MYSQL_BIN_D not defined\nSystem error 2: ") + std::strerror(ENOENT) + "\n"},
        {"DRWEB_ETC_D", 0, "verstally: Error: DRWEB_ETC_D not defined\n"},
        {nullptr, 0, "verstally: Error: PRODUCT_ROOT_D not defined\n"},  // "PRODUCT_ROOT_D  ": empty
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        if (c.omit != nullptr)
            sandbox.writeProductConf(c.omit);
        else
            sandbox.writeFile("/etc/zev/zev.conf", "PRODUCT_ROOT_D  ");
        Outcome r = runInSandbox(sandbox, [&] {
            program_path = "/usr/sbin/verstally";
            get_conf_value("PRODUCT_ROOT_D");  // load first, so errno is ours
            errno = c.errnoAtLoad;
            load_product_conf();
            std::printf("returned");
        });
        EXPECT_EQ(r.status, 1) << c.expected;
        EXPECT_EQ(r.err, c.expected);
        EXPECT_EQ(r.out, c.expected);
    }
}

}  // namespace
