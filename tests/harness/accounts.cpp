#include "harness/accounts.h"

void writeAccountFiles(const Sandbox& sandbox, bool withPanelAccount) {
    std::string passwd = SANDBOX_PASSWD, group = SANDBOX_GROUP;
    if (withPanelAccount) {
        passwd += "zevadm:x:" + std::to_string(FIXTURE_UID) + ":" + std::to_string(FIXTURE_GID) +
                  ":panel:/home/zevadm:/usr/sbin/nologin\n";
        group += "zevadm:x:" + std::to_string(FIXTURE_GID) + ":\n";
    }
    sandbox.writeFile("/etc/passwd", passwd);
    sandbox.writeFile("/etc/group", group);
}
