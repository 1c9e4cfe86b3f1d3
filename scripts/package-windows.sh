#!/usr/bin/env bash
# Builds the Windows program and packs it with a short read-me into
# dist-windows/qingjian-windows-x64.zip: one folder, 青笺/, that is the portable program folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

./scripts/install-deps.sh
./scripts/build-windows.sh qingjian
exe="$root/build-windows/wingui/qingjian.exe"
if [ ! -f "$exe" ]; then
    echo "package-windows: $exe was not built" >&2
    exit 1
fi

dist="$root/dist-windows"
stage="$dist/stage"
rm -rf "$stage"
mkdir -p "$stage/青笺"
cp "$exe" "$stage/青笺/qingjian.exe"
x86_64-w64-mingw32-strip "$stage/青笺/qingjian.exe"
# The read-me is for Notepad: UTF-8 with a byte-order mark, CR LF line ends.
{
    printf '\xEF\xBB\xBF'
    sed 's/$/\r/' <<'README'
青笺 Windows 版

使用方法
1. 把整个“青笺”文件夹解压到任意位置（例如 D:\青笺）。这个文件夹就是程序文件夹：
   设置文件 配置.ini、关键词列表和生成的文章都放在这里，可以整个拷到 U 盘带走。
2. 双击 qingjian.exe 打开主窗口：填好设置，按“保存配置”保存，按“开始”运行。
   不要窗口时，在“青笺”文件夹的地址栏输入 cmd 并回车，打开命令提示符，然后运行：
       qingjian.exe --batch
   程序按 配置.ini 的设置把关键词列表跑完，运行日志显示在命令提示符窗口里。
3. 第一次运行时，程序会告诉你关键词列表应放在哪里：
       OpenAi\待采集关键词.txt      每行一个关键词，ANSI（GBK）、UTF-8 或 Unicode 编码
   空行（或只有空格的行）结束任务，留在列表里，后面的关键词删去空行后再开始即可继续。
   生成的文章在 OpenAi\生成内容\ ，失败的关键词在 OpenAi\采集失败采集关键词.txt 。

退出码：0 全部完成；1 有失败的关键词；3 任务没能开始（另一个青笺正在处理同一个列表，
或列表读不了，日志中有原因）；4 任务提前结束、列表中还有关键词（日志中有原因）；
130 被 Ctrl+C 或关闭窗口中断（进行中的关键词已放回列表）。

需要 64 位 Windows 10 或更新的版本，不需要安装其他软件。
README
} >"$stage/青笺/说明.txt"

zip="$dist/qingjian-windows-x64.zip"
rm -f "$zip"
# In a UTF-8 locale the names are stored as UTF-8 with the zip's UTF-8 flag, which Windows'
# Explorer reads (in another locale the Chinese names would not even be found).
(cd "$stage" && LC_ALL=C.UTF-8 cmake -E tar cf "$zip" --format=zip 青笺)
rm -rf "$stage"
# The names as an unzip program sees them.
listing="$(LC_ALL=C.UTF-8 unzip -l "$zip")"
for name in 青笺/qingjian.exe 青笺/说明.txt; do
    if ! grep -qF "$name" <<<"$listing"; then
        echo "package-windows: $name is missing from $zip" >&2
        exit 1
    fi
done
echo "package-windows: $zip"
