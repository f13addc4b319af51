#ifndef VERSTALLY_ENV_CONSTANTS_H
#define VERSTALLY_ENV_CONSTANTS_H

// Every fixed path, name and limit of the tool and its common library.

#include <csignal>
#include <cstddef>
#include <sys/stat.h>

// --- Buffers ------------------------------------------------------------
/// Size of the library's fixed text buffers (4095 characters + terminator).
constexpr std::size_t TEXT_BUFFER_SIZE = 4096;
/// Size of the message buffer handed to the connection routine.
constexpr std::size_t DB_MESSAGE_BUFFER_SIZE = 4097;
/// Chunk size of one read from a child's output pipe.
constexpr std::size_t READ_CHUNK_SIZE = 4096;

// --- Product configuration ---------------------------------------------
/// The panel's configuration file.
constexpr const char* PRODUCT_CONF_FILE = "/etc/zev/zev.conf";
/// Derived from PRODUCT_ROOT_D: the panel's settings file.
constexpr const char* SETTINGS_FILE_SUFFIX = "/admin/conf/settings";
/// Derived from PRODUCT_ROOT_D: directory of the panel's utilities.
constexpr const char* UTILITIES_DIR_SUFFIX = "/admin/bin/";
/// Derived from PRODUCT_ROOT_D: the certificates directory.
constexpr const char* CERTIFICATES_DIR_SUFFIX = "/var/certificates";
/// File names of the panel's management utilities, in loading order.
constexpr const char* DNS_UTILITY_NAME = "zev-dns";
constexpr const char* MAIL_UTILITY_NAME = "zev-mail";
constexpr const char* SYSUSER_UTILITY_NAME = "zev-sysuser";
constexpr const char* FRONTPAGE_WRAPPER_NAME = "zev-fpwrapper";
constexpr const char* PROTDIR_USER_RM_UTILITY_NAME = "zev-protdir-userdel";
constexpr const char* VHOST_CREATE_UTILITY_NAME = "zev-vhost-create";
constexpr const char* WEBSERVER_UTILITY_NAME = "zev-webserver";
constexpr const char* FORM_RM_UTILITY_NAME = "zev-form-remove";
constexpr const char* INTERFACE_UTILITY_NAME = "zev-interface";
constexpr const char* DOMAIN_UTILITY_NAME = "zev-domain";
constexpr const char* SERVICE_CONF_UTILITY_NAME = "zev-chkconfig";

// --- Utility semaphores and the dirty flag ------------------------------
/// Semaphore file, formatted with PRODUCT_ROOT_D.
constexpr const char* SEMAPHORE_FILE_FORMAT = "%s/var/utilities.sem";
/// Semaphore that keeps two update runs apart.
constexpr int UPDATE_RUN_SEMAPHORE = 5;
/// Mode of a newly created semaphore file (less the umask).
constexpr unsigned SEMAPHORE_FILE_MODE = 0600;
/// Mode of directories created on the way to the semaphore file.
constexpr unsigned SEMAPHORE_DIR_MODE = 0755;
/// Dirty flag, appended to PRODUCT_ROOT_D.
constexpr const char* DIRTY_FLAG_SUFFIX = "/tmp/components_dirty_flag";
/// Mode of a newly created dirty flag (less the umask).
constexpr unsigned DIRTY_FLAG_MODE = 0600;
/// The panel's administrative system account.
constexpr const char* PANEL_ACCOUNT = "zevadm";

// --- Run time-out -------------------------------------------------------
/// Seconds a database mode may run before it is ended.
constexpr unsigned RUN_TIMEOUT_SECONDS = 300;
/// Seconds the time-out waits for a safe point before it ends the process
/// without counting itself.
constexpr unsigned TIMEOUT_GRACE_SECONDS = 10;
/// Signals that end a database mode as the time-out does, without counting
/// it: the end of a session, an interrupt, a request to terminate.
constexpr int RUN_ENDING_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM};
/// misc parameter counting the time-outs.
constexpr const char* TIMEOUT_COUNTER_PARAM = "verstally_fails";

// --- Database -----------------------------------------------------------
/// The administrator's password file.
constexpr const char* ADMIN_PASSWORD_FILE = "/etc/zev/.zev.shadow";
/// Marker link of container mode; its target names the database host.
constexpr const char* CONTAINER_MARKER_LINK = "/etc/zev/qv_mode";
/// The container's identity file; its first number is the container id.
constexpr const char* CONTAINER_ID_FILE = "/proc/qv/veinfo";
/// The MySQL server's configuration, searched for the socket path.
constexpr const char* MYSQL_CONF_FILE = "/etc/my.cnf";
/// Fallback socket paths, tried in this order.
constexpr const char* MYSQL_SOCKET_FALLBACK_1 = "/var/lib/mysql/mysql.sock";
constexpr const char* MYSQL_SOCKET_FALLBACK_2 = "/tmp/mysql.sock";
/// The database server's system account: a socket found on those paths is
/// taken only when it, root or the user the process runs as owns it.
constexpr const char* MYSQL_SERVER_ACCOUNT = "mysql";
/// Connection defaults, overridden by the environment.
constexpr const char* DEFAULT_DB_HOST = "localhost";
constexpr const char* DEFAULT_DB_NAME = "zev";
constexpr const char* DEFAULT_DB_LOGIN = "admin";
/// Environment variables of the connection routine.
constexpr const char* ENV_DB_HOST = "ZEV_DB_HOST";
constexpr const char* ENV_DB_PORT = "ZEV_DB_PORT";
constexpr const char* ENV_DB_NAME = "ZEV_DB_NAME";
constexpr const char* ENV_DB_LOGIN = "ZEV_DB_LOGIN";
constexpr const char* ENV_RUN_MODE = "ZEV_RUN_MODE";
constexpr const char* ENV_MYSQL_UNIX_PORT = "MYSQL_UNIX_PORT";
/// Highest TCP port; a larger ZEV_DB_PORT counts as no number, since the
/// client library would cut it to 16 bits and reach another port.
constexpr unsigned long MAX_DB_PORT = 65535;
/// Run mode of a containerised panel whose database host is saved in the
/// marker link.
constexpr unsigned CONTAINER_RUN_MODE = 3;
/// Highest run mode that ZEV_RUN_MODE may name.
constexpr int MAX_RUN_MODE = 3;
/// Per-container database name and login, formatted with the container id.
constexpr const char* CONTAINER_DB_NAME_FORMAT = "zev%ld";
constexpr const char* CONTAINER_DB_LOGIN_FORMAT = "admin%ld";
/// Section of /etc/my.cnf that names the server's socket, and its option.
constexpr const char* MYSQL_SERVER_SECTION = "[mysqld]";
constexpr const char* MYSQL_SOCKET_OPTION = "socket";
/// MariaDB option files that may set TLS for the connections, read in this
/// order, then HOME_OPTION_FILE appended to $HOME; the client groups read
/// there, and the tool's own; the extension of the files an "!includedir"
/// line names; how deep includes may nest (as MariaDB's clients allow);
/// and how many files one reading may open in all.
constexpr const char* SYSTEM_OPTION_FILES[] = {"/etc/my.cnf", "/etc/mysql/my.cnf"};
constexpr const char* HOME_OPTION_FILE = "/.my.cnf";
constexpr const char* CLIENT_OPTION_GROUPS[] = {"client", "client-server", "client-mariadb"};
constexpr const char* TOOL_OPTION_GROUP = "verstally";
constexpr const char* OPTION_FILE_EXTENSION = ".cnf";
constexpr int MAX_OPTION_FILE_DEPTH = 10;
constexpr int MAX_OPTION_FILES = 100;
/// Seconds a connection may take, from the first packet to the answer of
/// its first statement, before it counts as failed.
constexpr unsigned CONNECT_BOUND_SECONDS = 30;
/// Connections whose server thread ids are kept for cancelling a statement.
constexpr std::size_t MAX_KNOWN_CONNECTIONS = 8;
/// What a routine reports when it cannot open its connection (the
/// connection routine's own reason precedes it), and the writers' wording.
constexpr const char* DB_CONNECT_FAILURE = "Unable to connect to the mysql database\n";
constexpr const char* DB_WRITER_CONNECT_FAILURE = "Unable to connect to mysql database\n";
/// Why a connection that must be TLS is refused: the server did not use TLS
/// that the option files ask for, or that a connection over TCP uses by
/// default, or its certificate, to be verified, did not.
constexpr const char* NO_TLS_REFUSAL = "the server did not use TLS, which the option files ask for";
constexpr const char* DEFAULT_TLS_REFUSAL =
    "the server did not use TLS, which connections over TCP use unless the option files say skip-ssl";
constexpr const char* UNVERIFIED_TLS_REFUSAL = "the server's certificate did not verify";
/// Sent on every new connection.
constexpr const char* FOREIGN_KEY_CHECKS_OFF = "set foreign_key_checks=0";

// --- International domain names ---------------------------------------
/// Splits a URL into scheme (ftp, http or https, in any case), user part
/// with its '@', host, port with its ':' and the rest (path, query,
/// fragment); POSIX extended syntax. The authority ends at the first '/',
/// '?' or '#' (after the "//" that opens it behind another scheme, or
/// none); its user part runs to the last '@' in it, so that neither the
/// host nor the port can hold one.
constexpr const char* IDN_URL_PATTERN =
    "^([Ff][Tt][Pp]://|[Hh][Tt][Tt][Pp][Ss]?://)?([^@/?#]*//[^/?#]*@|[^/?#]*@)?([^/?#:@]+)(:[^/?#@]*)?([/?#].*)?$";

// --- Package database ---------------------------------------------------
/// The Debian package database query program.
constexpr const char* DPKG_QUERY_PATH = "/usr/bin/dpkg-query";
/// Its arguments before the package names.
constexpr const char* DPKG_QUERY_SHOW = "--show";
constexpr const char* DPKG_QUERY_FORMAT = "--showformat=${Package}\n${Status}\n${Version}\n";
/// The version stored for a component that is not installed.
constexpr const char* NOT_INSTALLED_VERSION = "not_installed";
/// Status word of an installed package.
constexpr const char* DPKG_INSTALLED_STATUS = "installed";
/// Alternatives of the "mysql" component; the first installed one counts.
constexpr const char* MYSQL_SERVER_PACKAGE = "mysql-server";
constexpr const char* MYSQL_SERVER_41_PACKAGE = "mysql-server-4.1";
/// Alternatives of the "php" component; the first installed one counts.
constexpr const char* PHP4_MODULE_PACKAGE = "libapache2-mod-php4";
constexpr const char* PHP5_MODULE_PACKAGE = "libapache2-mod-php5";
/// The "drweb" component needs all three; its version is the daemon's.
constexpr const char* DRWEB_BASE_PACKAGE = "drweb-base";
constexpr const char* DRWEB_UPDATER_PACKAGE = "drweb-updater";
constexpr const char* DRWEB_DAEMON_PACKAGE = "drweb-daemon";
/// The one package of the "coldfusion-support" component.
constexpr const char* COLDFUSION_SUPPORT_PACKAGE = "libstdc++2.9-glibc2.1";

// --- Vendor tools -------------------------------------------------------
/// misc parameters naming the ColdFusion instance.
constexpr const char* CF_INSTANCE_TYPE_PARAM = "cf_instance_type";
constexpr const char* CF_INSTANCE_PATH_PARAM = "cf_instance_path";
/// Instance type that selects the J2EE tool.
constexpr const char* CF_J2EE_TYPE = "j2ee";
constexpr const char* CF_J2EE_TOOL = "jrun";
constexpr const char* CF_J2EE_TOOL_ARG = "-version";
constexpr const char* CF_STANDARD_TOOL = "cfinfo";
constexpr const char* CF_STANDARD_TOOL_ARG = "-info";
/// FrontPage's administration tool and its argument.
constexpr const char* FRONTPAGE_TOOL_PATH = "/usr/local/frontpage/version5.0/bin/owsadm.exe";
constexpr const char* FRONTPAGE_TOOL_ARG = "-version";
/// grep, through which the FrontPage tool's output is filtered.
constexpr const char* GREP_PATH = "/bin/grep";
constexpr const char* FRONTPAGE_GREP_PATTERN = "Version";
constexpr const char* FRONTPAGE_VERSION_MARK = "Version: ";
/// A tool must be a regular file with owner read and execute permission.
constexpr unsigned TOOL_MODE_MASK = S_IFMT | S_IRUSR | S_IXUSR;
constexpr unsigned TOOL_MODE_REQUIRED = S_IFREG | S_IRUSR | S_IXUSR;
/// Symbolic links followed on a tool's path at most, as the kernel does.
constexpr unsigned MAX_TOOL_PATH_LINKS = 40;
/// File systems (statfs types) a tool's path may not cross: on these the
/// owners and modes that stat reports are chosen by whoever serves the file
/// system (a user's FUSE process, another machine), not kept by the kernel.
/// FUSE (also virtiofs, sshfs, bindfs), NFS, SMB, SMB2, CIFS, Coda, AFS,
/// kAFS, 9p, Ceph, NCP, GFS2, OCFS2, VirtualBox shared folders, OrangeFS,
/// Lustre.
constexpr long SHARED_FILE_SYSTEM_TYPES[] = {
    0x65735546, 0x6969,     0x517B,     0xFE534D42, 0xFF534D42, 0x73757245, 0x5346414F, 0x6B414653,
    0x01021997, 0x00C36400, 0x564C,     0x01161970, 0x7461636F, 0x786F4256, 0x20030528, 0x0BD00BD0,
};

// --- Child processes ----------------------------------------------------
/// Children waited for at once (the FrontPage probe's tool and grep, with
/// room to spare); a signal handler ends them all.
constexpr int MAX_WAITED_CHILDREN = 4;
/// Where a child's unconnected streams go.
constexpr const char* DEV_NULL = "/dev/null";
/// Bytes of a program the kernel reads for its "#!" line.
constexpr std::size_t SCRIPT_HEADER_SIZE = 256;
/// Children of the caller remembered when a run begins (see
/// beginRunChildren); more are still spared by their start time.
constexpr std::size_t MAX_CALLERS_CHILDREN = 32;
/// Milliseconds a process that gives up may spend ending what it started.
constexpr long long CHILD_END_BOUND_MS = 5000;
/// Where the children of a process are found: the kernel's list for its
/// thread (formatted with the pid twice), else the parent field of every
/// process's stat line (formatted with the pid).
constexpr const char* PROC_DIR = "/proc";
constexpr const char* PROC_CHILDREN_FORMAT = "/proc/%d/task/%d/children";
constexpr const char* PROC_STAT_FORMAT = "/proc/%s/stat";

#endif
