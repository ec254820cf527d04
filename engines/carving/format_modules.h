// The recognisers and end finders of every format module, for the one table that registers
// them (signature_table.cpp). Each block is one file of this folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engines/carving/carve_session.h"
#include "engines/carving/file_type_code.h"

namespace keltra {

using ByteView = std::span<const std::byte>;

// mpeg_format.cpp: MPEG program and elementary streams.
FileTypeCode RecogniseMpeg(CarveSession& session, ByteView bytes);
uint64_t FindMpegEnd(CarveSession& session, ByteView header);

// iso_media_format.cpp: MP4, 3GP and QuickTime.
FileTypeCode RecogniseMp4(CarveSession& session, ByteView bytes);
FileTypeCode Recognise3gp(CarveSession& session, ByteView bytes);
FileTypeCode RecogniseQuickTime(CarveSession& session, ByteView bytes);
uint64_t FindMp4End(CarveSession& session, ByteView header);
uint64_t FindIsoMediaEnd(CarveSession& session,
                         ByteView header);  // 3gp and mov: to the next header
// The same files named by their brands: HEIC, HEIF, AVIF, CR3, M4A, M4V, 3G2 (and MP4 or
// QuickTime under a writer's own major brand).
FileTypeCode RecogniseIsoBrand(CarveSession& session, ByteView bytes);
uint64_t FindIsoBrandEnd(CarveSession& session, ByteView header);

// real_media_format.cpp
FileTypeCode RecogniseRealMedia(CarveSession& session, ByteView bytes);
uint64_t FindRealMediaEnd(CarveSession& session, ByteView header);

// asf_format.cpp: wmv, asf, wma.
FileTypeCode RecogniseAsf(CarveSession& session, ByteView bytes);
uint64_t FindAsfEnd(CarveSession& session, ByteView header);

// swf_format.cpp
FileTypeCode RecogniseSwf(CarveSession& session, ByteView bytes);
uint64_t FindSwfEnd(CarveSession& session, ByteView header);

// riff_format.cpp: AVI and WAVE.
FileTypeCode RecogniseAvi(CarveSession& session, ByteView bytes);
FileTypeCode RecogniseWave(CarveSession& session, ByteView bytes);
uint64_t FindRiffEnd(CarveSession& session, ByteView header);

// flv_format.cpp
FileTypeCode RecogniseFlv(CarveSession& session, ByteView bytes);
uint64_t FindFlvEnd(CarveSession& session, ByteView header);

// matroska_format.cpp
FileTypeCode RecogniseMatroska(CarveSession& session, ByteView bytes);
uint64_t FindMatroskaEnd(CarveSession& session, ByteView header);

// transport_stream_format.cpp: MPEG transport streams and M2TS.
FileTypeCode RecogniseTransportStream(CarveSession& session, ByteView bytes);
uint64_t FindTransportStreamEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseM2ts(CarveSession& session, ByteView bytes);
uint64_t FindM2tsEnd(CarveSession& session, ByteView header);

// mxf_format.cpp
FileTypeCode RecogniseMxf(CarveSession& session, ByteView bytes);
uint64_t FindMxfEnd(CarveSession& session, ByteView header);

// mpeg_audio_format.cpp: MP3 with an ID3v2 tag, and MPEG audio layer 2.
FileTypeCode RecogniseMp3(CarveSession& session, ByteView bytes);
uint64_t FindMp3End(CarveSession& session, ByteView header);
FileTypeCode RecogniseMp2(CarveSession& session, ByteView bytes);
uint64_t FindMp2End(CarveSession& session, ByteView header);

// midi_format.cpp
FileTypeCode RecogniseMidi(CarveSession& session, ByteView bytes);
uint64_t FindMidiEnd(CarveSession& session, ByteView header);

// ape_format.cpp: Monkey's Audio.
FileTypeCode RecogniseApe(CarveSession& session, ByteView bytes);
uint64_t FindApeEnd(CarveSession& session, ByteView header);

// mmf_format.cpp: SMAF.
FileTypeCode RecogniseMmf(CarveSession& session, ByteView bytes);
uint64_t FindMmfEnd(CarveSession& session, ByteView header);

// compound_file_format.cpp: compound files (fla, and the Office classification).
FileTypeCode RecogniseFla(CarveSession& session, ByteView bytes);
uint64_t FindFlaEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseCompoundFile(CarveSession& session, ByteView bytes);

// gif_format.cpp, bmp_format.cpp, jpeg_format.cpp, png_format.cpp
FileTypeCode RecogniseGif(CarveSession& session, ByteView bytes);
uint64_t FindGifEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseBmp(CarveSession& session, ByteView bytes);
uint64_t FindBmpEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseJpeg(CarveSession& session, ByteView bytes);
uint64_t FindJpegEnd(CarveSession& session, ByteView header);
FileTypeCode RecognisePng(CarveSession& session, ByteView bytes);
uint64_t FindPngEnd(CarveSession& session, ByteView header);

// psd_format.cpp, tiff_format.cpp (TIFF and the camera RAW files built on it), icon_format.cpp
FileTypeCode RecognisePsd(CarveSession& session, ByteView bytes);
uint64_t FindPsdEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseTiff(CarveSession& session, ByteView bytes);
uint64_t FindTiffEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseIcon(CarveSession& session, ByteView bytes);
uint64_t FindIconEnd(CarveSession& session, ByteView header);

// open_xml_format.cpp: Office open-XML packages (carved as zip files, zip_format.cpp).
FileTypeCode RecogniseOpenXml(CarveSession& session, ByteView bytes);

// pdf_format.cpp
FileTypeCode RecognisePdf(CarveSession& session, ByteView bytes);
uint64_t FindPdfEnd(CarveSession& session, ByteView header);

// zip_format.cpp: zip archives and the documents built on them.
FileTypeCode RecogniseZip(CarveSession& session, ByteView bytes);
uint64_t FindZipEnd(CarveSession& session, ByteView header);

// gzip_format.cpp, seven_zip_format.cpp
FileTypeCode RecogniseGzip(CarveSession& session, ByteView bytes);
uint64_t FindGzipEnd(CarveSession& session, ByteView header);
FileTypeCode Recognise7z(CarveSession& session, ByteView bytes);
uint64_t Find7zEnd(CarveSession& session, ByteView header);

// archive_formats.cpp: rar, cabinet.
FileTypeCode RecogniseRar(CarveSession& session, ByteView bytes);
FileTypeCode RecogniseCabinet(CarveSession& session, ByteView bytes);

// pe_format.cpp: exe, dll, sys.
FileTypeCode RecognisePortableExecutable(CarveSession& session, ByteView bytes);

// ghost_format.cpp
FileTypeCode RecogniseGhost(CarveSession& session, ByteView bytes);

// store_formats.cpp: SQLite, Outlook Express dbx, Outlook pst.
FileTypeCode RecogniseSqlite(CarveSession& session, ByteView bytes);
FileTypeCode RecogniseDbx(CarveSession& session, ByteView bytes);
FileTypeCode RecognisePst(CarveSession& session, ByteView bytes);

// truetype_format.cpp
FileTypeCode RecogniseTrueType(CarveSession& session, ByteView bytes);

// raf_format.cpp, x3f_format.cpp, mrw_format.cpp, crw_format.cpp: the camera RAW containers
// of Fujifilm, Sigma, Minolta and Canon's older cameras.
FileTypeCode RecogniseRaf(CarveSession& session, ByteView bytes);
uint64_t FindRafEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseX3f(CarveSession& session, ByteView bytes);
uint64_t FindX3fEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseMrw(CarveSession& session, ByteView bytes);
uint64_t FindMrwEnd(CarveSession& session, ByteView header);
FileTypeCode RecogniseCrw(CarveSession& session, ByteView bytes);
uint64_t FindCrwEnd(CarveSession& session, ByteView header);

// riff_format.cpp: WebP.
FileTypeCode RecogniseWebp(CarveSession& session, ByteView bytes);
uint64_t FindWebpEnd(CarveSession& session, ByteView header);

// jpeg_xl_format.cpp: JPEG XL, bare codestream or box container.
FileTypeCode RecogniseJpegXl(CarveSession& session, ByteView bytes);
uint64_t FindJpegXlEnd(CarveSession& session, ByteView header);

// jpeg2000_format.cpp: JP2 box files and bare codestreams.
FileTypeCode RecogniseJpeg2000(CarveSession& session, ByteView bytes);
uint64_t FindJpeg2000End(CarveSession& session, ByteView header);

// netpbm_format.cpp: binary PPM, PGM and PBM.
FileTypeCode RecogniseNetpbm(CarveSession& session, ByteView bytes);
uint64_t FindNetpbmEnd(CarveSession& session, ByteView header);

// ogg_format.cpp: Ogg, named by its first stream (Vorbis, Opus, FLAC, Theora).
FileTypeCode RecogniseOgg(CarveSession& session, ByteView bytes);
uint64_t FindOggEnd(CarveSession& session, ByteView header);

// flac_format.cpp: native FLAC.
FileTypeCode RecogniseFlac(CarveSession& session, ByteView bytes);
uint64_t FindFlacEnd(CarveSession& session, ByteView header);

// aiff_format.cpp: AIFF and AIFF-C.
FileTypeCode RecogniseAiff(CarveSession& session, ByteView bytes);
uint64_t FindAiffEnd(CarveSession& session, ByteView header);

}  // namespace keltra
