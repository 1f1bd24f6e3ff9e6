#!/bin/sh
# Makes the sample files that the signature tests hold the shipped header
# signatures against: every file here was written by a real tool (ImageMagick,
# exiftool, ffmpeg, ghostscript, zip, 7z, xz, bzip2, sqlite3, gcc, Python's standard
# library), not typed in by hand.
#
# Only the first 512 bytes of each file are kept: a header signature is always
# found inside the first sector of a file, and the carving engines look at
# nothing else to recognise a file's start. That keeps the samples tiny.
#
# File names: <search>-<what>.<extension>, where <search> is "photo", "video"
# or "sig" (the pair of signature data files the file type belongs to) and
# <extension> is the extension the carving search must give the file.
#
# Needs: imagemagick, libimage-exiftool-perl, ffmpeg, zip, p7zip-full, xz-utils,
# bzip2, sqlite3, gcc, python3, ghostscript (PDF and the ICC profile of the
# ICC JPEG).
# Run from anywhere: sh tests/carving/samples/make-samples.sh
set -eu

OUT=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

keep() {  # keep SOURCE NAME: the first sector of SOURCE as OUT/NAME
    head -c 512 "$1" > "$OUT/$2"
}

ff() {  # ffmpeg, quiet, overwrite
    ffmpeg -nostdin -hide_banner -loglevel error -y "$@"
}

# --- photos ------------------------------------------------------------------
convert -size 16x16 gradient:red-blue base.png
keep base.png photo-png.png
convert base.png jfif.jpg
keep jfif.jpg photo-jfif.jpg
# A camera-style JPEG: Exif first, no JFIF segment.
cp jfif.jpg exif.jpg
exiftool -q -overwrite_original -JFIF:all= -Make=Torvane -Model=Sample exif.jpg
keep exif.jpg photo-exif.jpg
# A JPEG without any application segment: quantisation table first.
cp jfif.jpg bare.jpg
exiftool -q -overwrite_original -all= bare.jpg
keep bare.jpg photo-bare.jpg
# An ICC profile first.
cp jfif.jpg icc.jpg
exiftool -q -overwrite_original -JFIF:all= "-ICC_Profile<=/usr/share/color/icc/ghostscript/srgb.icc" icc.jpg
keep icc.jpg photo-icc.jpg
# CMYK JPEGs carry the Adobe segment.
convert base.png -colorspace CMYK adobe.jpg
keep adobe.jpg photo-adobe.jpg
# Photoshop resource block (IPTC) first.
cp jfif.jpg irb.jpg
exiftool -q -overwrite_original -JFIF:all= -IPTC:Keywords=sample irb.jpg
keep irb.jpg photo-irb.jpg
convert base.png GIF:gif89.gif
keep gif89.gif photo-gif89.gif
convert base.png GIF87:gif87.gif
keep gif87.gif photo-gif87.gif
convert base.png -define tiff:endian=lsb intel.tif
keep intel.tif photo-intel.tif
convert base.png -define tiff:endian=msb motorola.tif
keep motorola.tif photo-motorola.tif
convert base.png psd.psd
keep psd.psd photo-psd.psd
convert base.png -type TrueColor BMP3:true.bmp
keep true.bmp photo-truecolour.bmp
convert -size 256x1 gradient:black-white -type Palette BMP3:pal.bmp
keep pal.bmp photo-palette.bmp
convert base.png heic.heic
keep heic.heic photo-heic.heic
convert base.png webp.webp
keep webp.webp photo-webp.webp
convert base.png jp2.jp2
keep jp2.jp2 photo-jp2.jp2
convert base.png avif.avif
keep avif.avif photo-avif.avif

# --- videos ------------------------------------------------------------------
ff -f lavfi -i testsrc=size=32x32:rate=5 -t 0.4 -pix_fmt yuv420p -c:v mpeg4 clip.mp4
keep clip.mp4 video-isom.mp4
ff -i clip.mp4 -c copy -brand mp41 mp41.mp4
keep mp41.mp4 video-mp41.mp4
ff -i clip.mp4 -c copy -brand mp42 mp42.mp4
keep mp42.mp4 video-mp42.mp4
ff -i clip.mp4 -c copy -brand avc1 avc1.mp4
keep avc1.mp4 video-avc1.mp4
ff -i clip.mp4 -c copy -f ipod m4v.m4v
keep m4v.m4v video-ipod.m4v
ff -i clip.mp4 -c copy mov.mov
keep mov.mov video-qt.mov
ff -i clip.mp4 -c copy mkv.mkv
keep mkv.mkv video-mkv.mkv
ff -i clip.mp4 -c copy avi.avi
keep avi.avi video-avi.avi
ff -i clip.mp4 -c:v flv flv.flv
keep flv.flv video-flv.flv
ff -i clip.mp4 -c:v wmv2 wmv.wmv
keep wmv.wmv video-wmv.wmv
ff -i clip.mp4 -c:v h263 -s 128x96 3gp.3gp
keep 3gp.3gp video-3gp.3gp
ff -i clip.mp4 -c:v h263 -s 128x96 -brand 3gp5 3gp5.3gp
keep 3gp5.3gp video-3gp5.3gp
ff -i clip.mp4 -c:v h263 -s 128x96 -brand 3gp6 3gp6.3gp
keep 3gp6.3gp video-3gp6.3gp
ff -i clip.mp4 -c:v h263 -s 128x96 3g2.3g2
keep 3g2.3g2 video-3g2.3g2
ff -i clip.mp4 -c:v rv10 -s 128x96 rm.rm
keep rm.rm video-rm.rm
ff -i clip.mp4 -c:v mpeg2video -s 128x96 -r 25 mxf.mxf
keep mxf.mxf video-mxf.mxf

# --- documents, archives, audio ------------------------------------------------
printf '%%!PS\n/Helvetica findfont 12 scalefont setfont 72 720 moveto (Torvane sample) show showpage\n' > page.ps
gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile=pdf.pdf page.ps
keep pdf.pdf sig-pdf.pdf
printf 'Torvane sample\n' > note.txt
zip -q zip.zip note.txt
keep zip.zip sig-zip.zip
7z a -bd -bso0 7z.7z note.txt
keep 7z.7z sig-7z.7z
xz -c note.txt > xz.xz
keep xz.xz sig-xz.xz
bzip2 -c note.txt > bz2.bz2
keep bz2.bz2 sig-bz2.bz2
sqlite3 db.sqlite 'CREATE TABLE t(x); INSERT INTO t VALUES (1);'
keep db.sqlite sig-sqlite.sqlite
ff -f lavfi -i sine=frequency=440:duration=0.2 tone.wav
keep tone.wav sig-wav.wav
ff -i tone.wav -c:a flac flac.flac
keep flac.flac sig-flac.flac
ff -i tone.wav -c:a flac ogg.ogg
keep ogg.ogg sig-ogg.ogg
ff -i tone.wav -c:a aac m4a.m4a
keep m4a.m4a sig-m4a.m4a
ff -i tone.wav -c:a libmp3lame -id3v2_version 4 -metadata title=Sample id3v24.mp3
keep id3v24.mp3 sig-id3v24.mp3
ff -i tone.wav -c:a libmp3lame -id3v2_version 3 -metadata title=Sample id3v23.mp3
keep id3v23.mp3 sig-id3v23.mp3
printf 'int main(void) { return 0; }\n' > prog.c
gcc -o prog prog.c
keep prog sig-elf.elf
python3 - <<'EOF'
import email.message, email.generator, xml.etree.ElementTree as ET
msg = email.message.EmailMessage()
msg["Return-Path"] = "<sample@torvane.example>"
msg["From"] = "sample@torvane.example"
msg["To"] = "owner@torvane.example"
msg["Subject"] = "Sample"
msg.set_content("A sample message.\n")
with open("mail.eml", "w") as f:
    email.generator.Generator(f).flatten(msg)
root = ET.Element("sample")
ET.SubElement(root, "item").text = "Torvane"
ET.ElementTree(root).write("doc.xml", encoding="UTF-8", xml_declaration=True)
EOF
keep mail.eml sig-mail.eml
keep doc.xml sig-doc.xml

echo "samples written to $OUT"
