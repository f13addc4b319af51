#include "harness/components_table.h"

const std::vector<RegisteredComponent>& registeredComponents() {
    static const std::vector<RegisteredComponent> components = {
        {"SSHTerm", "sshterm"}, {"bind", "bind9"}, {"coldfusion", ""},
        {"coldfusion-support", "libstdc++2.9-glibc2.1"}, {"courier-imap", "zev-courier-imap"}, {"drweb", ""},
        {"drweb-qmail", "drweb-qmail"}, {"frontpage", ""}, {"httpd", "apache2"}, {"mailman", "mailman"},
        {"mod_perl", "libapache2-mod-perl2"}, {"mod_python", "libapache2-mod-python"}, {"mysql", ""},
        {"perl-Apache-ASP", "libapache-asp-perl"}, {"php", ""}, {"postgresql-server", "postgresql"},
        {"samba", "samba"}, {"spamassassin", "spamassassin"}, {"tomcat", "tomcat4"}, {"webalizer", "webalizer"},
        {"zev", "zev"}, {"zev-api-rpc", "zev-api-rpc"}, {"zev-bu", "zev-bu"}, {"zev-horde", "zev-horde"},
        {"zev-imp", "zev-imp"}, {"zev-logrotate", "zev-logrotate"},
        {"zev-manual-custom-skin-guide", "zev-manual-custom-skin-guide"},
        {"zev-migration-manager", "zev-migration-manager"}, {"zev-proftpd", "zev-proftpd"},
        {"zev-qmail", "zev-qmail"}, {"zev-qmail-rblsmtpd", "zev-qmail-rblsmtpd"},
        {"zev-spamassassin", "zev-spamassassin"}, {"zev-tomcat-configurator", "zev-tomcat-configurator"},
        {"zev-turba", "zev-turba"},
    };
    return components;
}

std::map<std::string, std::string> componentRows(TestDatabase& db) {
    std::map<std::string, std::string> rows;
    for (const DbRow& row : db.query("SELECT name, version FROM Components"))
        rows[row[0].value_or("<NULL>")] = row[1].value_or("<NULL>");
    return rows;
}

std::string expectedReplace(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string statement = "REPLACE Components (name, version) VALUES";
    for (std::size_t i = 0; i < rows.size(); ++i)
        statement += (i == 0 ? "('" : ",('") + rows[i].first + "','" + rows[i].second + "')";
    return statement;
}
