-- Panel tables that verstally and its common library read and write.
-- Loaded into an existing database (no CREATE DATABASE / USE here).

-- One row per registered component: its installed version or "not_installed".
-- Names are compared byte for byte, so REPLACE on the key replaces exactly
-- the row of that name.
CREATE TABLE Components (
    name    VARCHAR(255) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin NOT NULL,
    version TEXT NULL,
    PRIMARY KEY (name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Panel-wide parameters (verstally_fails, cf_instance_type, admin_email ...).
CREATE TABLE misc (
    param VARCHAR(255) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin NOT NULL,
    val   TEXT NULL,
    PRIMARY KEY (param)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Per-domain parameters.
CREATE TABLE dom_param (
    dom_id INT UNSIGNED NOT NULL,
    param  VARCHAR(245) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin NOT NULL,
    val    TEXT NULL,
    PRIMARY KEY (dom_id, param)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Numbered parameter sets that other tables point to.
CREATE TABLE Parameters (
    id        INT UNSIGNED NOT NULL,
    parameter VARCHAR(245) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin NOT NULL,
    value     TEXT NULL,
    PRIMARY KEY (id, parameter)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE clients (
    id    INT UNSIGNED NOT NULL AUTO_INCREMENT,
    email VARCHAR(255) NULL,
    PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Hosted domains. Names keep the case-insensitive collation: a domain name
-- matches whatever case it is asked in.
CREATE TABLE domains (
    id        INT UNSIGNED NOT NULL AUTO_INCREMENT,
    name      VARCHAR(255) NOT NULL,
    status    INT UNSIGNED NULL DEFAULT 0,
    htype     VARCHAR(32) NULL,
    params_id INT UNSIGNED NULL,
    limits_id INT UNSIGNED NULL,
    cl_id     INT UNSIGNED NULL,
    PRIMARY KEY (id),
    UNIQUE KEY name (name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE IP_Addresses (
    id         INT UNSIGNED NOT NULL AUTO_INCREMENT,
    ip_address VARCHAR(45) NOT NULL,
    PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Physical hosting of a domain; fp and fp_ssl hold "true" or "false".
CREATE TABLE hosting (
    dom_id        INT UNSIGNED NOT NULL,
    ip_address_id INT UNSIGNED NULL,
    fp            VARCHAR(32) NULL DEFAULT 'false',
    fp_ssl        VARCHAR(32) NULL DEFAULT 'false',
    PRIMARY KEY (dom_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE DomainServices (
    id            INT UNSIGNED NOT NULL AUTO_INCREMENT,
    dom_id        INT UNSIGNED NOT NULL,
    type          VARCHAR(32) NOT NULL,
    parameters_id INT UNSIGNED NULL,
    PRIMARY KEY (id),
    KEY dom_id (dom_id, type)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE Limits (
    id         INT UNSIGNED NOT NULL,
    limit_name VARCHAR(64) NOT NULL,
    value      VARCHAR(255) NULL,
    PRIMARY KEY (id, limit_name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE dns_recs (
    id     INT UNSIGNED NOT NULL AUTO_INCREMENT,
    dom_id INT UNSIGNED NOT NULL,
    type   VARCHAR(16) NOT NULL,
    host   VARCHAR(255) NOT NULL,
    val    VARCHAR(255) NULL,
    PRIMARY KEY (id),
    KEY dom_id (dom_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE subdomains (
    id     INT UNSIGNED NOT NULL AUTO_INCREMENT,
    dom_id INT UNSIGNED NOT NULL,
    name   VARCHAR(255) NOT NULL,
    PRIMARY KEY (id),
    KEY dom_id (dom_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Anonymous FTP of a domain; status holds "true" or "false".
CREATE TABLE anon_ftp (
    dom_id INT UNSIGNED NOT NULL,
    status VARCHAR(32) NULL DEFAULT 'false',
    PRIMARY KEY (dom_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
