#include "harness/accounts.h"

#include "harness/capture.h"

void writeAccountFiles(const Sandbox& sandbox, bool withPanelAccount) {
    std::string passwd = readWholeFile("/etc/passwd");
    std::string group = readWholeFile("/etc/group");
    if (!passwd.empty() && passwd.back() != '\n') passwd += '\n';
    if (!group.empty() && group.back() != '\n') group += '\n';
    if (withPanelAccount) {
        passwd += "zevadm:x:" + std::to_string(FIXTURE_UID) + ":" + std::to_string(FIXTURE_GID) +
                  ":panel:/home/zevadm:/usr/sbin/nologin\n";
        group += "zevgrp:x:" + std::to_string(FIXTURE_GID) + ":\n";
    }
    sandbox.writeFile("/etc/passwd", passwd);
    sandbox.writeFile("/etc/group", group);
}
