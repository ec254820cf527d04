// The recognisers and end finders of every format module, for the one table that registers
// them (signature_table.cpp). Each block is one file of this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engines/carving/file_type_code.h"

namespace keltra {

using ByteView = std::span<const std::byte>;

// mpeg_format.cpp: MPEG program and elementary streams.
FileTypeCode RecogniseMpeg(ByteView bytes);
uint64_t FindMpegEnd(ByteView header);

// iso_media_format.cpp: MP4, 3GP and QuickTime.
FileTypeCode RecogniseMp4(ByteView bytes);
FileTypeCode Recognise3gp(ByteView bytes);
FileTypeCode RecogniseQuickTime(ByteView bytes);
uint64_t FindMp4End(ByteView header);
uint64_t FindIsoMediaEnd(ByteView header);  // 3gp and mov: to the next header
// The same files named by their brands: HEIC, HEIF, AVIF, CR3, M4A, M4V, 3G2 (and MP4 or
// QuickTime under a writer's own major brand).
FileTypeCode RecogniseIsoBrand(ByteView bytes);
uint64_t FindIsoBrandEnd(ByteView header);

// real_media_format.cpp
FileTypeCode RecogniseRealMedia(ByteView bytes);
uint64_t FindRealMediaEnd(ByteView header);

// asf_format.cpp: wmv, asf, wma.
FileTypeCode RecogniseAsf(ByteView bytes);
uint64_t FindAsfEnd(ByteView header);

// swf_format.cpp
FileTypeCode RecogniseSwf(ByteView bytes);
uint64_t FindSwfEnd(ByteView header);

// riff_format.cpp: AVI and WAVE.
FileTypeCode RecogniseAvi(ByteView bytes);
FileTypeCode RecogniseWave(ByteView bytes);
uint64_t FindRiffEnd(ByteView header);

// flv_format.cpp
FileTypeCode RecogniseFlv(ByteView bytes);
uint64_t FindFlvEnd(ByteView header);

// matroska_format.cpp
FileTypeCode RecogniseMatroska(ByteView bytes);
uint64_t FindMatroskaEnd(ByteView header);

// transport_stream_format.cpp: MPEG transport streams and M2TS.
FileTypeCode RecogniseTransportStream(ByteView bytes);
uint64_t FindTransportStreamEnd(ByteView header);
FileTypeCode RecogniseM2ts(ByteView bytes);
uint64_t FindM2tsEnd(ByteView header);

// mxf_format.cpp
FileTypeCode RecogniseMxf(ByteView bytes);
uint64_t FindMxfEnd(ByteView header);

// mpeg_audio_format.cpp: MP3 with an ID3v2 tag, and MPEG audio layer 2.
FileTypeCode RecogniseMp3(ByteView bytes);
uint64_t FindMp3End(ByteView header);
FileTypeCode RecogniseMp2(ByteView bytes);
uint64_t FindMp2End(ByteView header);

// midi_format.cpp
FileTypeCode RecogniseMidi(ByteView bytes);
uint64_t FindMidiEnd(ByteView header);

// ape_format.cpp: Monkey's Audio.
FileTypeCode RecogniseApe(ByteView bytes);
uint64_t FindApeEnd(ByteView header);

// mmf_format.cpp: SMAF.
FileTypeCode RecogniseMmf(ByteView bytes);
uint64_t FindMmfEnd(ByteView header);

// compound_file_format.cpp: compound files (fla, and the Office classification).
FileTypeCode RecogniseFla(ByteView bytes);
uint64_t FindFlaEnd(ByteView header);
FileTypeCode RecogniseCompoundFile(ByteView bytes);

// gif_format.cpp, bmp_format.cpp, jpeg_format.cpp, png_format.cpp
FileTypeCode RecogniseGif(ByteView bytes);
uint64_t FindGifEnd(ByteView header);
FileTypeCode RecogniseBmp(ByteView bytes);
uint64_t FindBmpEnd(ByteView header);
FileTypeCode RecogniseJpeg(ByteView bytes);
uint64_t FindJpegEnd(ByteView header);
FileTypeCode RecognisePng(ByteView bytes);
uint64_t FindPngEnd(ByteView header);

// psd_format.cpp, tiff_format.cpp (TIFF and the camera RAW files built on it), icon_format.cpp
FileTypeCode RecognisePsd(ByteView bytes);
uint64_t FindPsdEnd(ByteView header);
FileTypeCode RecogniseTiff(ByteView bytes);
uint64_t FindTiffEnd(ByteView header);
FileTypeCode RecogniseIcon(ByteView bytes);
uint64_t FindIconEnd(ByteView header);

// open_xml_format.cpp: Office open-XML packages (carved as zip files, zip_format.cpp).
FileTypeCode RecogniseOpenXml(ByteView bytes);

// pdf_format.cpp
FileTypeCode RecognisePdf(ByteView bytes);
uint64_t FindPdfEnd(ByteView header);

// zip_format.cpp: zip archives and the documents built on them.
FileTypeCode RecogniseZip(ByteView bytes);
uint64_t FindZipEnd(ByteView header);

// gzip_format.cpp, seven_zip_format.cpp
FileTypeCode RecogniseGzip(ByteView bytes);
uint64_t FindGzipEnd(ByteView header);
FileTypeCode Recognise7z(ByteView bytes);
uint64_t Find7zEnd(ByteView header);

// archive_formats.cpp: rar, cabinet.
FileTypeCode RecogniseRar(ByteView bytes);
FileTypeCode RecogniseCabinet(ByteView bytes);

// pe_format.cpp: exe, dll, sys.
FileTypeCode RecognisePortableExecutable(ByteView bytes);

// ghost_format.cpp
FileTypeCode RecogniseGhost(ByteView bytes);

// store_formats.cpp: SQLite, Outlook Express dbx, Outlook pst.
FileTypeCode RecogniseSqlite(ByteView bytes);
FileTypeCode RecogniseDbx(ByteView bytes);
FileTypeCode RecognisePst(ByteView bytes);

// truetype_format.cpp
FileTypeCode RecogniseTrueType(ByteView bytes);

// raf_format.cpp, x3f_format.cpp, mrw_format.cpp, crw_format.cpp: the camera RAW containers
// of Fujifilm, Sigma, Minolta and Canon's older cameras.
FileTypeCode RecogniseRaf(ByteView bytes);
uint64_t FindRafEnd(ByteView header);
FileTypeCode RecogniseX3f(ByteView bytes);
uint64_t FindX3fEnd(ByteView header);
FileTypeCode RecogniseMrw(ByteView bytes);
uint64_t FindMrwEnd(ByteView header);
FileTypeCode RecogniseCrw(ByteView bytes);
uint64_t FindCrwEnd(ByteView header);

// riff_format.cpp: WebP.
FileTypeCode RecogniseWebp(ByteView bytes);
uint64_t FindWebpEnd(ByteView header);

// jpeg_xl_format.cpp: JPEG XL, bare codestream or box container.
FileTypeCode RecogniseJpegXl(ByteView bytes);
uint64_t FindJpegXlEnd(ByteView header);

// jpeg2000_format.cpp: JP2 box files and bare codestreams.
FileTypeCode RecogniseJpeg2000(ByteView bytes);
uint64_t FindJpeg2000End(ByteView header);

// netpbm_format.cpp: binary PPM, PGM and PBM.
FileTypeCode RecogniseNetpbm(ByteView bytes);
uint64_t FindNetpbmEnd(ByteView header);

// xcf_format.cpp: GIMP's XCF.
FileTypeCode RecogniseXcf(ByteView bytes);
uint64_t FindXcfEnd(ByteView header);

// ogg_format.cpp: Ogg, named by its first stream (Vorbis, Opus, FLAC, Theora).
FileTypeCode RecogniseOgg(ByteView bytes);
uint64_t FindOggEnd(ByteView header);

// flac_format.cpp: native FLAC.
FileTypeCode RecogniseFlac(ByteView bytes);
uint64_t FindFlacEnd(ByteView header);

// aiff_format.cpp: AIFF and AIFF-C.
FileTypeCode RecogniseAiff(ByteView bytes);
uint64_t FindAiffEnd(ByteView header);

// dv_format.cpp: raw DV.
FileTypeCode RecogniseDv(ByteView bytes);
uint64_t FindDvEnd(ByteView header);

}  // namespace keltra
