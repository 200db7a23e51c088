#!/usr/bin/env bash
# Makes a seed corpus for every fuzz target with real tools: ImageMagick,
# cwebp, avifenc, zip, rar, 7z, img2pdf, ls, iconv and Python's plistlib; the SMB
# targets get whole sessions written by make-smb-seeds.py (the media
# server's requests are kept as they are in seeds/).
# Usage: fuzz/make-seeds.sh OUTDIR  (OUTDIR/<target>/ is filled)
# Seeds that need a missing tool are left out with a note.
set -uo pipefail
out=${1:?usage: make-seeds.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

IM=$(command -v convert-im6.q16 || command -v convert || true)
have() { command -v "$1" >/dev/null 2>&1 || { echo "make-seeds: no $1, its seeds are left out" >&2; return 1; }; }
put() { local t=$1; shift; mkdir -p "$out/$t"; for f in "$@"; do [ -s "$f" ] && cp "$f" "$out/$t/"; done; }

# ---- Images ---------------------------------------------------------------
if [ -n "$IM" ]; then
  "$IM" -size 16x12 gradient:red-blue -fill white -draw 'rectangle 3,3 8,7' page.ppm
  "$IM" page.ppm page.png
  "$IM" page.ppm -alpha set -channel A -evaluate set 60% +channel rgba.png
  "$IM" page.ppm -interlace PNG -depth 16 interlaced16.png
  "$IM" page.ppm -colors 8 PNG8:palette.png
  "$IM" page.ppm -colorspace Gray grey.png
  "$IM" page.ppm page.gif
  "$IM" page.ppm -interlace GIF -transparent white interlaced.gif
  "$IM" page.ppm -quality 80 page.jpg
  "$IM" page.ppm -interlace JPEG progressive.jpg
  "$IM" page.ppm -colorspace Gray grey.jpg
  "$IM" page.ppm -colorspace CMYK cmyk.jpg
  "$IM" page.ppm -orient RightTop rotated.jpg
  "$IM" page.ppm -compress None page.tif
  "$IM" page.ppm -compress LZW lzw.tif
  "$IM" page.ppm -compress Zip -orient BottomRight zip.tif
  "$IM" page.ppm -colors 8 -type Palette palette.tif
  "$IM" page.ppm BMP3:page.bmp
  "$IM" rgba.png BMP:rgba.bmp
  "$IM" page.ppm -colors 16 -type Palette -compress RLE BMP3:rle.bmp
  "$IM" page.ppm -colors 2 -type Palette BMP3:mono.bmp
  put png_decoder page.png rgba.png interlaced16.png palette.png grey.png
  put gif_decoder page.gif interlaced.gif
  put jpeg_codec page.jpg progressive.jpg grey.jpg cmyk.jpg rotated.jpg
  put tiff_decoder page.tif lzw.tif zip.tif palette.tif
  put bmp_decoder page.bmp rgba.bmp rle.bmp mono.bmp
  for t in image_decoder image_loader image_common; do
    put $t page.png page.gif progressive.jpg lzw.tif rle.bmp
  done
  if have cwebp; then
    cwebp -quiet -q 60 page.png -o lossy.webp
    cwebp -quiet -lossless rgba.png -o lossless.webp
    cwebp -quiet -q 50 -alpha_q 50 rgba.png -o alpha.webp
    put webp_image lossy.webp lossless.webp alpha.webp
    for t in image_loader image_common; do put $t lossy.webp lossless.webp; done
  fi
  if have avifenc; then
    avifenc --min 20 --max 40 -s 10 page.png page.avif >/dev/null 2>&1
    avifenc --min 20 --max 40 -s 10 -d 10 rgba.png deep.avif >/dev/null 2>&1
    put image_avif page.avif deep.avif
    put image_loader page.avif
  fi
fi

# ---- Archives of those pages -----------------------------------------------
mkdir -p book/inner
cp page.png book/01.png 2>/dev/null; cp page.jpg book/02.jpg 2>/dev/null; cp page.gif book/inner/03.gif 2>/dev/null
if have zip; then
  (cd book && zip -qr ../deflate.zip . && zip -qr0 ../stored.zip . && zip -qr -P pw ../crypt.zip . \
     && zip -qr -Z bzip2 ../bzip2.zip .)
  put zip_archive deflate.zip stored.zip crypt.zip bzip2.zip
  put page_reader_zip deflate.zip stored.zip crypt.zip
  # The same books from a server: answered honestly, or with a shifted, a
  # short and an oversized range, a 503 and a dropped connection first
  # (remote_book_stream's orders), the stored one behind 256 KiB.
  mkdir -p "$out/remote_book_stream"
  printf '\000\000' | cat - deflate.zip > "$out/remote_book_stream/honest-deflate.bin"
  printf '\002\007\000\035\111\013\015\057\000' | cat - stored.zip > "$out/remote_book_stream/lies-stored.bin"
fi
if have 7z; then
  (cd book && 7z a -bd -tzip -ppw -mem=AES256 ../aes.zip . >/dev/null && 7z a -bd -tzip -mm=LZMA ../lzma.zip . >/dev/null \
     && 7z a -bd ../book.7z . >/dev/null && 7z a -bd -ppw -mhe=on ../crypt.7z . >/dev/null \
     && 7z a -bd -ms=off -m0=Copy ../copy.7z . >/dev/null)
  put zip_archive aes.zip lzma.zip
  put page_reader_zip aes.zip
  put seven_zip_archive book.7z crypt.7z copy.7z lzma.zip
  put page_reader_7z book.7z crypt.7z copy.7z
fi
if have rar; then
  (cd book && rar a -idq -r ../book.rar . && rar a -idq -r -ppw ../crypt.rar . && rar a -idq -r -hppw ../hcrypt.rar . \
     && rar a -idq -r -s ../solid.rar . && rar a -idq -r -ma4 ../rar4.rar .)
  put unrar_archive book.rar crypt.rar hcrypt.rar solid.rar rar4.rar
  put page_reader_rar book.rar crypt.rar solid.rar rar4.rar
fi
if have img2pdf; then
  img2pdf page.jpg page.png -o book.pdf 2>/dev/null
  img2pdf --pagesize A6 --rotation=90 page.jpg -o rotated.pdf 2>/dev/null
  put pdf_document book.pdf rotated.pdf
  put page_reader_pdf book.pdf rotated.pdf
fi

# ---- Stored files ------------------------------------------------------------
if have python3; then
  python3 - "$out" <<'PY'
import os, plistlib, struct, sys
out = sys.argv[1]
def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)
settings = {"defaultZoomMode": "fit", "isDoubleTruck": True, "charset": "shift_jis", "gamma": 1.4,
            "imageFilter": [1, 0, 7], "backgroundColor": "black", "directorySortMode": 2,
            "downloadListType": 1, "bookListStyle": "detail", "centerSpace": 0.05}
for fmt, ext in ((plistlib.FMT_XML, "xml"), (plistlib.FMT_BINARY, "bin")):
    put("settings_global", "globalsettings." + ext, plistlib.dumps(settings, fmt=fmt))
    put("settings_zoom", "zoomsettings." + ext, plistlib.dumps([1, 3, 0, 0, 2, 0, 1, 4, 3], fmt=fmt))
    put("property_list", "settings." + ext, plistlib.dumps(settings, fmt=fmt))
    put("property_list", "nested." + ext, plistlib.dumps(
        {"books": [{"name": "a.cbz", "page": 3, "data": b"\x00\x01", "read": 0.5}], "n": -1}, fmt=fmt))
tap = struct.pack("<34i", *([2, 1, 5, 0, 3, 4, 6, 7, 1, 0, 2, 3, 4, 1, 1, 2] + [0] * 18))
put("tap_config", "tapconfig.dat", tap)
# NetBIOS: a positive answer for BOOKSHELF<20> with two addresses.
def nbname(name, suffix):
    raw = name.ljust(15).encode() + bytes([suffix])
    return bytes([32]) + bytes(b for c in raw for b in (0x41 + (c >> 4), 0x41 + (c & 15))) + b"\0"
answer = struct.pack(">HHHHHH", 0x1234, 0x8500, 0, 1, 0, 0) + nbname("BOOKSHELF", 0x20) + \
    struct.pack(">HHIH", 0x20, 1, 300, 12) + b"\x00\x00" + bytes([127, 0, 0, 1]) + b"\x60\x00" + bytes([10, 0, 0, 5])
put("nbns_answer", "answer.bin", answer)
# NTLM type 2: flags, challenge, target name and target information.
name = "FILES".encode("utf-16-le")
info = b"".join(struct.pack("<HH", i, len(v)) + v for i, v in
                ((2, "FILES".encode("utf-16-le")), (1, "NAS".encode("utf-16-le")),
                 (7, struct.pack("<Q", 132000000000000000)))) + struct.pack("<HH", 0, 0)
head = 48 + 8
msg = b"NTLMSSP\0" + struct.pack("<I", 2) + struct.pack("<HHI", len(name), len(name), head) + \
    struct.pack("<I", 0x628a8215) + bytes(range(1, 9)) + bytes(8) + \
    struct.pack("<HHI", len(info), len(info), head + len(name)) + bytes([6, 1, 0x1d, 0x4a, 0, 0, 0, 15])
put("ntlm_challenge", "challenge.bin", msg + name + info)
# SPNEGO: the server's negTokenResp carrying that challenge.
def der(tag, content):
    n = len(content)
    if n < 128:
        return bytes([tag, n]) + content
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content
ntlmssp_oid = bytes([0x06, 0x0a, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0a])
resp = der(0xa1, der(0x30, der(0xa0, bytes([0x0a, 1, 1])) + der(0xa1, ntlmssp_oid) +
                   der(0xa2, der(0x04, msg + name + info))))
put("spnego_reply", "challenge.der", resp)
put("spnego_reply", "accepted.der", der(0xa1, der(0x30, der(0xa0, bytes([0x0a, 1, 0])))))
# srvsvc: a bind acknowledgement and a NetrShareEnum level 1 answer.
def pdu(ptype, call, body):
    return struct.pack("<BBBB4sHHI", 5, 0, ptype, 3, b"\x10\0\0\0", 16 + len(body), 0, call) + body
ndr_uuid = bytes.fromhex("045d888aeb1cc9119fe808002b104860")
ack = struct.pack("<HHI", 4280, 4280, 0x12345) + struct.pack("<H", 13) + b"\\PIPE\\srvsvc\0" + b"\0"
ack += struct.pack("<BBH", 1, 0, 0) + struct.pack("<HH", 0, 0) + ndr_uuid + struct.pack("<I", 2)
put("srvsvc_share_enum", "bind-ack.bin", pdu(12, 1, ack))
def ndr_string(text):
    units = (text + "\0").encode("utf-16-le")
    n = len(units) // 2
    b = struct.pack("<III", n, 0, n) + units
    return b + bytes((4 - len(b) % 4) % 4)
shares = [("Books", 0, "comics"), ("IPC$", 3, "IPC Service")]
stub = struct.pack("<III", 1, 1, 0x20000) + struct.pack("<II", len(shares), 0x20004) + struct.pack("<I", len(shares))
for i, (n, t, c) in enumerate(shares):
    stub += struct.pack("<III", 0x20008 + 8 * i, t, 0x2000c + 8 * i)
for n, t, c in shares:
    stub += ndr_string(n) + ndr_string(c)
stub += struct.pack("<III", len(shares), 0, 0)
body = struct.pack("<IHBB", len(stub), 0, 0, 0) + stub
put("srvsvc_share_enum", "share-enum.bin", pdu(2, 2, body))
put("srvsvc_share_enum", "stub.bin", stub)
# Cloud listings as the four services answer a folder page, and a token answer.
import json
put("cloud_json", "drive.json", json.dumps({"nextPageToken": "t1", "files": [
    {"id": "1a", "name": "vol 1.cbz", "mimeType": "application/zip", "size": "1234567",
     "modifiedTime": "2024-02-03T11:02:00.000Z"},
    {"id": "2b", "name": "Books", "mimeType": "application/vnd.google-apps.folder",
     "modifiedTime": "2024-01-16T21:15:00Z"}]}).encode())
put("cloud_json", "onedrive.json", json.dumps({"@odata.nextLink": "https://127.0.0.1/next", "value": [
    {"id": "A!1", "name": "vol 2.cbr", "size": 2048, "file": {"mimeType": "application/x-rar"},
     "lastModifiedDateTime": "2024-02-03T11:02:00Z"}, {"id": "A!2", "name": "Sub", "folder": {"childCount": 3}}]}).encode())
put("cloud_json", "dropbox.json", json.dumps({"cursor": "c", "has_more": False, "entries": [
    {".tag": "file", "name": "まんが.zip", "path_display": "/まんが.zip", "id": "id:x", "size": 99,
     "server_modified": "2024-02-03T11:02:00Z"}, {".tag": "folder", "name": "F", "path_lower": "/f"}]},
    ensure_ascii=False).encode())
put("cloud_json", "token.json", json.dumps({"access_token": "at", "refresh_token": "rt", "expires_in": 3599,
                                            "token_type": "Bearer", "scope": "files.read"}).encode())
PY
fi

# ---- Texts -------------------------------------------------------------------
mkdir -p "$out/language_tables"
for l in en ja; do
  f="$root/resources/lang/$l.lproj/Localizable.strings"
  [ -f "$f" ] && head -c 1500 "$f" > "$out/language_tables/$l.strings"
done
printf '"a" = "b";\n/* note */\n"key \\"q\\"" = "line\\nnext";\n' > "$out/language_tables/escapes.strings"

text='第1巻 まんが 표지 封面 Ünïcode.cbz'
mkdir -p "$out/text_encoding"
printf '%s' "$text" > "$out/text_encoding/utf8.txt"
if have iconv; then
  printf '%s' 'まんが 第1巻.zip' | iconv -f UTF-8 -t SHIFT_JIS > "$out/text_encoding/sjis.txt"
  printf '%s' '만화 표지.cbz' | iconv -f UTF-8 -t EUC-KR > "$out/text_encoding/euckr.txt"
  printf '%s' '漫画 封面.cbz' | iconv -f UTF-8 -t GB18030 > "$out/text_encoding/gb18030.txt"
  printf '%s' '漫畫 封面.cbz' | iconv -f UTF-8 -t BIG5 > "$out/text_encoding/big5.txt"
fi

# A folder listed by ls, and the other styles FTP servers answer in.
mkdir -p listing/Books && cp deflate.zip "listing/vol 1.cbz" 2>/dev/null; touch listing/notes.pdf
mkdir -p "$out/ftp_list"
ls -l listing | tr '\n' '\r' | sed 's/\r/\r\n/g' > "$out/ftp_list/unix.txt"
printf '01-16-24  09:15PM       <DIR>          Books\r\n02-03-24  11:02AM              1234567 vol 1.cbz\r\n' > "$out/ftp_list/dos.txt"
printf '+i8388621.48594,m825718503,r,s280,\tvol 1.cbz\r\n+i8388621.50690,m824255907,/,\tBooks\r\n' > "$out/ftp_list/eplf.txt"
printf 'type=dir;modify=20240116211500; Books\r\ntype=file;size=1234;modify=20240203110200; vol 1.cbz\r\n' > "$out/ftp_list/mlsd.txt"
printf 'VOL1.CBZ;1                4/8          1-JAN-2024 12:00:00  [GROUP,OWNER]  (RWED,RWED,RE,)\r\nBOOKS.DIR;1  1/3  2-FEB-2024 08:30:00  [G,O]  (RWE,RWE,RE,RE)\r\n' > "$out/ftp_list/vms.txt"

mkdir -p "$out/html_index"
cat > "$out/html_index/autoindex.html" <<'HTML'
<html><head><title>Index of /books/</title></head><body><h1>Index of /books/</h1><hr><pre><a href="../">../</a>
<a href="Books/">Books/</a>                                             16-Jan-2024 21:15       -
<a href="vol%201.cbz">vol 1.cbz</a>                                     03-Feb-2024 11:02    1234567
<a href="%E3%81%BE%E3%82%93%E3%81%8C.zip">&#12414;&#12435;&#12364;.zip</a>       03-Feb-2024 11:02    2048
<a href="http://127.0.0.1:8080/other/x.pdf">x.pdf</a>
</pre><hr></body></html>
HTML
cat > "$out/html_index/table.html" <<'HTML'
<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 Final//EN"><html><body><table>
<tr><th><a href="?C=N;O=D">Name</a></th></tr><tr><td><a href="/books/">Parent Directory</a></td></tr>
<tr><td><a href='a%2Fb.cbr'>a/b.cbr</a></td></tr><tr><td><A HREF="c.cb7">c.cb7</A></td></tr></table></body></html>
HTML

mkdir -p "$out/webdav_propfind"
cat > "$out/webdav_propfind/multistatus.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:lp1="DAV:">
<D:response><D:href>/dav/books/</D:href><D:propstat><D:prop><lp1:resourcetype><D:collection/></lp1:resourcetype>
<lp1:getlastmodified>Tue, 16 Jan 2024 21:15:00 GMT</lp1:getlastmodified></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/dav/books/vol%201.cbz</D:href><D:propstat><D:prop><lp1:resourcetype/>
<lp1:getcontentlength>1234567</lp1:getcontentlength><lp1:getlastmodified>Sat, 03 Feb 2024 11:02:00 GMT</lp1:getlastmodified>
</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>http://127.0.0.1/dav/books/Sub/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop></D:propstat></D:response>
</D:multistatus>
XML

mkdir -p "$out/ssdp_answer"
printf 'HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: http://127.0.0.1:8200/rootDesc.xml\r\nSERVER: Linux DLNADOC/1.50 UPnP/1.0 MiniDLNA/1.3\r\nST: urn:schemas-upnp-org:device:MediaServer:1\r\nUSN: uuid:4d696e69-444c-164e-9d41-b827eb0a7d2e::urn:schemas-upnp-org:device:MediaServer:1\r\n\r\n' > "$out/ssdp_answer/answer.txt"
cat > "$out/ssdp_answer/description.xml" <<'XML'
<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0"><specVersion><major>1</major><minor>0</minor></specVersion>
<device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType><friendlyName>Books on NAS</friendlyName>
<manufacturer>Leafbright</manufacturer></device></root>
XML

# ---- SMB replies: whole guest sessions, as a small script writes them ----
python3 "$root/fuzz/make-smb-seeds.py" "$out"
