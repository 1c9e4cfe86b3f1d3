#!/usr/bin/env bash
# A real WordPress on 127.0.0.1 for the publishing tests and the publishing benchmark: Debian's
# wordpress package copied into a private folder, its own MariaDB server on a private socket, PHP's
# built-in web server on a free loopback port. Nothing outside DIR is written or started.
#
#   wordpress-peer.sh start DIR   starts MariaDB and PHP, installs a site with an administrator and
#                                 an application password (first start only), and writes
#                                 DIR/wordpress.txt ("name value" lines: url, user, password,
#                                 app-password, root)
#   wordpress-peer.sh stop DIR    stops the two processes that start wrote down, and only those
#
# The site runs with WP_ENVIRONMENT_TYPE local, so application passwords work over plain http, and
# with pretty links (/%postname%/), so the REST API answers under /wp-json/ as well as under
# /?rest_route=. PHP_CLI_SERVER_WORKERS lets the built-in server answer several requests at once.
set -euo pipefail

command="${1:-}"
dir="${2:-}"
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: wordpress-peer.sh start|stop DIR" >&2
    exit 2
fi
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits until the condition holds (at most 30 s).
wait_until() {
    for _ in $(seq 600); do
        if "$@" 2>/dev/null; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}

port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1")
}

mariadb_up() {
    mariadb --no-defaults --socket="$dir/mysql.sock" -uroot -e 'SELECT 1' >/dev/null
}

start_mariadb() {
    if [ ! -d "$dir/db/mysql" ]; then
        mariadb-install-db --no-defaults --datadir="$dir/db" --auth-root-authentication-method=normal \
            --user="$(id -un)" --skip-test-db >"$dir/mariadb-install.log" 2>&1
    fi
    mariadbd --no-defaults --datadir="$dir/db" --socket="$dir/mysql.sock" --skip-networking \
        --pid-file="$dir/mariadbd.pidfile" --user="$(id -un)" --log-error="$dir/mariadb.log" \
        --innodb-buffer-pool-size=32M --innodb-flush-log-at-trx-commit=2 </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/mariadb.pid"
    if ! wait_until mariadb_up; then
        echo "wordpress-peer: MariaDB did not start (see $dir/mariadb.log)" >&2
        return 1
    fi
    mariadb --no-defaults --socket="$dir/mysql.sock" -uroot \
        -e "CREATE DATABASE IF NOT EXISTS wordpress CHARACTER SET utf8mb4"
}

# The site's files: the package's tree with a configuration of its own.
prepare_site() {
    local port=$1
    if [ ! -f "$dir/site/wp-settings.php" ]; then
        rm -rf "$dir/site"
        cp -a /usr/share/wordpress "$dir/site"
        rm -f "$dir/site/wp-config.php" "$dir/site/.htaccess"
        mkdir -p "$dir/site/wp-content/uploads"
    fi
    cat >"$dir/site/wp-config.php" <<PHP
<?php
define('DB_NAME', 'wordpress');
define('DB_USER', 'root');
define('DB_PASSWORD', '');
define('DB_HOST', 'localhost:$dir/mysql.sock');
define('DB_CHARSET', 'utf8mb4');
define('DB_COLLATE', '');
define('WP_HOME', 'http://127.0.0.1:$port');
define('WP_SITEURL', 'http://127.0.0.1:$port');
define('WP_CONTENT_DIR', __DIR__ . '/wp-content');
define('WP_ENVIRONMENT_TYPE', 'local');
define('WP_AUTO_UPDATE_CORE', false);
define('AUTOMATIC_UPDATER_DISABLED', true);
define('DISABLE_WP_CRON', true);
define('WP_HTTP_BLOCK_EXTERNAL', true);
define('AUTH_KEY', 'qj-test'); define('SECURE_AUTH_KEY', 'qj-test'); define('LOGGED_IN_KEY', 'qj-test');
define('NONCE_KEY', 'qj-test'); define('AUTH_SALT', 'qj-test'); define('SECURE_AUTH_SALT', 'qj-test');
define('LOGGED_IN_SALT', 'qj-test'); define('NONCE_SALT', 'qj-test');
\$table_prefix = 'wp_';
if (!defined('ABSPATH')) {
    define('ABSPATH', __DIR__ . '/');
}
require_once ABSPATH . 'wp-settings.php';
PHP
}

# Installs the site once: an administrator, an application password, pretty links, the site's
# time zone. Prints the application password.
install_site() {
    local port=$1
    php -d display_errors=stderr -r '
        $_SERVER["HTTP_HOST"] = "127.0.0.1:" . $argv[2];
        $_SERVER["REQUEST_URI"] = "/";
        define("WP_INSTALLING", true);
        require $argv[1] . "/wp-load.php";
        require_once ABSPATH . "wp-admin/includes/upgrade.php";
        // No mail leaves the machine (and no sendmail is called to try).
        add_filter("pre_wp_mail", "__return_false");
        if (!is_blog_installed()) {
            wp_install("青笺测试站", "editor", "editor@127.0.0.1.invalid", false, "", "Editor-Pass-1");
        }
        update_option("permalink_structure", "/%postname%/");
        update_option("timezone_string", "Asia/Shanghai");
        $user = get_user_by("login", "editor");
        foreach (WP_Application_Passwords::get_user_application_passwords($user->ID) as $item) {
            WP_Application_Passwords::delete_application_password($user->ID, $item["uuid"]);
        }
        $created = WP_Application_Passwords::create_new_application_password($user->ID, array("name" => "qingjian"));
        if (is_wp_error($created)) {
            fwrite(STDERR, $created->get_error_message() . "\n");
            exit(1);
        }
        echo WP_Application_Passwords::chunk_password($created[0]);
    ' "$dir/site" "$port"
}

start() {
    local port app_password
    # Processes a killed run left behind (their ids written down) are stopped first: the data
    # folder is theirs until they end.
    stop
    port="$(free_port)"
    start_mariadb
    prepare_site "$port"
    app_password="$(install_site "$port")"

    # Its own process group, as the server forks its workers: stop ends the whole group.
    PHP_CLI_SERVER_WORKERS="${QJ_WP_WORKERS:-8}" setsid php -d display_errors=stderr -d log_errors=0 \
        -S "127.0.0.1:$port" -t "$dir/site" </dev/null >"$dir/php.log" 2>&1 &
    echo $! >"$dir/php.pid"
    if ! wait_until port_open "$port"; then
        echo "wordpress-peer: PHP's web server did not start (see $dir/php.log)" >&2
        return 1
    fi
    cat >"$dir/wordpress.txt" <<PEER
url http://127.0.0.1:$port
user editor
password Editor-Pass-1
app-password $app_password
root $dir
PEER
}

stop() {
    local pidfile pid
    if [ -f "$dir/php.pid" ]; then
        kill -- "-$(cat "$dir/php.pid")" 2>/dev/null || true
        rm -f "$dir/php.pid"
    fi
    for pidfile in "$dir/mariadb.pid"; do
        if [ -f "$pidfile" ]; then
            pid="$(cat "$pidfile")"
            kill "$pid" 2>/dev/null || true
            # MariaDB flushes its tables before it ends; the next start must find them whole.
            wait_until bash -c "! kill -0 $pid" || kill -9 "$pid" 2>/dev/null || true
            rm -f "$pidfile"
        fi
    done
}

case "$command" in
start) start ;;
stop) stop ;;
*)
    echo "wordpress-peer.sh: unknown command $command" >&2
    exit 2
    ;;
esac
