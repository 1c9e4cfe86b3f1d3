<?php
// A small web-publishing site of the kind many Chinese CMSes are, for the publishing tests: a login
// form that sets a session cookie, a post form that takes GBK (or UTF-8) fields, urlencoded or
// multipart, and a list page of the titles. Its pages are GBK. The posts are kept in
// $FORM_SITE_DATA/posts.txt, one line each: the fields base64-encoded byte for byte.
$data = getenv('FORM_SITE_DATA');
session_save_path($data . '/sessions');

function gbk($utf8) {
    return iconv('UTF-8', 'GBK', $utf8);
}

function page($utf8Body) {
    header('Content-Type: text/html; charset=GBK');
    echo gbk('<html><head><meta charset="gbk"><title>测试站</title></head><body>' . $utf8Body . '</body></html>');
}

$path = parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH);
switch ($path) {
case '/admin/login.php':
    session_start();
    if (($_POST['username'] ?? '') === 'editor' && ($_POST['password'] ?? '') === 'secret') {
        $_SESSION['user'] = 'editor';
        page('登录成功，欢迎回来');
    } else {
        page('用户名或密码错误');
    }
    break;

case '/admin/post.php':
case '/admin/post-utf8.php':
    session_start();
    if (($_SESSION['user'] ?? '') !== 'editor') {
        page('<form action="/admin/login.php">请先登录</form>');
        break;
    }
    $title = $_POST['title'] ?? '';
    if ($title === '' || strpos($title, gbk('违禁')) !== false || strpos($title, '违禁') !== false) {
        page('发布失败：标题不能用');
        break;
    }
    $fields = [$title, $_POST['body'] ?? '', $_POST['category'] ?? '', $_POST['tags'] ?? '',
               $_POST['date'] ?? '', $_SERVER['CONTENT_TYPE'] ?? ''];
    $line = implode("\t", array_map('base64_encode', $fields)) . "\n";
    $file = fopen($data . '/posts.txt', 'a');
    flock($file, LOCK_EX);
    fwrite($file, $line);
    flock($file, LOCK_UN);
    fclose($file);
    page('发布成功！<a href="/list.php">返回列表</a>');
    break;

case '/list.php':
    $items = '';
    foreach (@file($data . '/posts.txt') ?: [] as $line) {
        $fields = explode("\t", trim($line));
        // The stored title is sent as it came, GBK bytes or not.
        $items .= '<li>' . htmlspecialchars(base64_decode($fields[0]), ENT_QUOTES, 'ISO-8859-1') . '</li>';
    }
    header('Content-Type: text/html; charset=GBK');
    echo gbk('<html><body><h1>文章列表</h1><ul>') . $items . '</ul></body></html>';
    break;

case '/posts.txt':
    header('Content-Type: text/plain');
    echo @file_get_contents($data . '/posts.txt') ?: '';
    break;

default:
    http_response_code(404);
    page('没有这一页');
}
