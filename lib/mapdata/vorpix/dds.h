/* DDS texture files decoded from memory: the headers through a table-driven
 * decoder, DXT1 mipmap chains decompressed to 32-bit ARGB images, S3TC (DXT1
 * and DXT5) block decompression, and the text listing. */
#ifndef VORPIX_DDS_H
#define VORPIX_DDS_H

#include <stdint.h>
#include <stdio.h>

#include "vorpix_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Tbl Tbl;

/* Structure-type codes of the decoder. */
#define DDS_FILE 1
#define DDS_HEADER 2
#define DDS_HEADER10 3
#define DDS_PIXELFORMAT 4

/* Header flags (dwFlags), pixel-format flags (ddspf.dwFlags) and caps (dwCaps). */
#define DSD_CAPS 0x1
#define DSD_HEIGHT 0x2
#define DSD_WIDTH 0x4
#define DSD_PITCH 0x8
#define DSD_PIXELFORMAT 0x1000
#define DSD_MIPMAPCOUNT 0x20000
#define DSD_LINEARSIZE 0x80000
#define DSD_DEPTH 0x800000
#define DPF_ALPHAPIXELS 0x1
#define DPF_ALPHA 0x2
#define DPF_FOURCC 0x4
#define DPF_RGB 0x40
#define DPF_YUV 0x200
#define DPF_LUMINANCE 0x20000
#define DDSCAPS_COMPLEX 0x8
#define DDSCAPS_TEXTURE 0x1000
#define DDSCAPS_MIPMAP 0x400000

/* Four-character codes as the low 32 bits of dwFourCC (first character lowest). */
#define DDS_FOURCC_DXT1 0x31545844u
#define DDS_FOURCC_DXT5 0x35545844u
#define DDS_FOURCC_DX10 0x30315844u

/* The resource formats of the DX10 header, held in 32 bits. */
typedef enum DXGI_FORMAT {
    DXGI_FORMAT_UNKNOWN = 0,
    DXGI_FORMAT_R32G32B32A32_TYPELESS = 1,
    DXGI_FORMAT_R32G32B32A32_FLOAT = 2,
    DXGI_FORMAT_R32G32B32A32_UINT = 3,
    DXGI_FORMAT_R32G32B32A32_SINT = 4,
    DXGI_FORMAT_R32G32B32_TYPELESS = 5,
    DXGI_FORMAT_R32G32B32_FLOAT = 6,
    DXGI_FORMAT_R32G32B32_UINT = 7,
    DXGI_FORMAT_R32G32B32_SINT = 8,
    DXGI_FORMAT_R16G16B16A16_TYPELESS = 9,
    DXGI_FORMAT_R16G16B16A16_FLOAT = 10,
    DXGI_FORMAT_R16G16B16A16_UNORM = 11,
    DXGI_FORMAT_R16G16B16A16_UINT = 12,
    DXGI_FORMAT_R16G16B16A16_SNORM = 13,
    DXGI_FORMAT_R16G16B16A16_SINT = 14,
    DXGI_FORMAT_R32G32_TYPELESS = 15,
    DXGI_FORMAT_R32G32_FLOAT = 16,
    DXGI_FORMAT_R32G32_UINT = 17,
    DXGI_FORMAT_R32G32_SINT = 18,
    DXGI_FORMAT_R32G8X24_TYPELESS = 19,
    DXGI_FORMAT_D32_FLOAT_S8X24_UINT = 20,
    DXGI_FORMAT_R32_FLOAT_X8X24_TYPELESS = 21,
    DXGI_FORMAT_X32_TYPELESS_G8X24_UINT = 22,
    DXGI_FORMAT_R10G10B10A2_TYPELESS = 23,
    DXGI_FORMAT_R10G10B10A2_UNORM = 24,
    DXGI_FORMAT_R10G10B10A2_UINT = 25,
    DXGI_FORMAT_R11G11B10_FLOAT = 26,
    DXGI_FORMAT_R8G8B8A8_TYPELESS = 27,
    DXGI_FORMAT_R8G8B8A8_UNORM = 28,
    DXGI_FORMAT_R8G8B8A8_UNORM_SRGB = 29,
    DXGI_FORMAT_R8G8B8A8_UINT = 30,
    DXGI_FORMAT_R8G8B8A8_SNORM = 31,
    DXGI_FORMAT_R8G8B8A8_SINT = 32,
    DXGI_FORMAT_R16G16_TYPELESS = 33,
    DXGI_FORMAT_R16G16_FLOAT = 34,
    DXGI_FORMAT_R16G16_UNORM = 35,
    DXGI_FORMAT_R16G16_UINT = 36,
    DXGI_FORMAT_R16G16_SNORM = 37,
    DXGI_FORMAT_R16G16_SINT = 38,
    DXGI_FORMAT_R32_TYPELESS = 39,
    DXGI_FORMAT_D32_FLOAT = 40,
    DXGI_FORMAT_R32_FLOAT = 41,
    DXGI_FORMAT_R32_UINT = 42,
    DXGI_FORMAT_R32_SINT = 43,
    DXGI_FORMAT_R24G8_TYPELESS = 44,
    DXGI_FORMAT_D24_UNORM_S8_UINT = 45,
    DXGI_FORMAT_R24_UNORM_X8_TYPELESS = 46,
    DXGI_FORMAT_X24_TYPELESS_G8_UINT = 47,
    DXGI_FORMAT_R8G8_TYPELESS = 48,
    DXGI_FORMAT_R8G8_UNORM = 49,
    DXGI_FORMAT_R8G8_UINT = 50,
    DXGI_FORMAT_R8G8_SNORM = 51,
    DXGI_FORMAT_R8G8_SINT = 52,
    DXGI_FORMAT_R16_TYPELESS = 53,
    DXGI_FORMAT_R16_FLOAT = 54,
    DXGI_FORMAT_D16_UNORM = 55,
    DXGI_FORMAT_R16_UNORM = 56,
    DXGI_FORMAT_R16_UINT = 57,
    DXGI_FORMAT_R16_SNORM = 58,
    DXGI_FORMAT_R16_SINT = 59,
    DXGI_FORMAT_R8_TYPELESS = 60,
    DXGI_FORMAT_R8_UNORM = 61,
    DXGI_FORMAT_R8_UINT = 62,
    DXGI_FORMAT_R8_SNORM = 63,
    DXGI_FORMAT_R8_SINT = 64,
    DXGI_FORMAT_A8_UNORM = 65,
    DXGI_FORMAT_R1_UNORM = 66,
    DXGI_FORMAT_R9G9B9E5_SHAREDEXP = 67,
    DXGI_FORMAT_R8G8_B8G8_UNORM = 68,
    DXGI_FORMAT_G8R8_G8B8_UNORM = 69,
    DXGI_FORMAT_BC1_TYPELESS = 70,
    DXGI_FORMAT_BC1_UNORM = 71,
    DXGI_FORMAT_BC1_UNORM_SRGB = 72,
    DXGI_FORMAT_BC2_TYPELESS = 73,
    DXGI_FORMAT_BC2_UNORM = 74,
    DXGI_FORMAT_BC2_UNORM_SRGB = 75,
    DXGI_FORMAT_BC3_TYPELESS = 76,
    DXGI_FORMAT_BC3_UNORM = 77,
    DXGI_FORMAT_BC3_UNORM_SRGB = 78,
    DXGI_FORMAT_BC4_TYPELESS = 79,
    DXGI_FORMAT_BC4_UNORM = 80,
    DXGI_FORMAT_BC4_SNORM = 81,
    DXGI_FORMAT_BC5_TYPELESS = 82,
    DXGI_FORMAT_BC5_UNORM = 83,
    DXGI_FORMAT_BC5_SNORM = 84,
    DXGI_FORMAT_B5G6R5_UNORM = 85,
    DXGI_FORMAT_B5G5R5A1_UNORM = 86,
    DXGI_FORMAT_B8G8R8A8_UNORM = 87,
    DXGI_FORMAT_B8G8R8X8_UNORM = 88,
    DXGI_FORMAT_R10G10B10_XR_BIAS_A2_UNORM = 89,
    DXGI_FORMAT_B8G8R8A8_TYPELESS = 90,
    DXGI_FORMAT_B8G8R8A8_UNORM_SRGB = 91,
    DXGI_FORMAT_B8G8R8X8_TYPELESS = 92,
    DXGI_FORMAT_B8G8R8X8_UNORM_SRGB = 93,
    DXGI_FORMAT_BC6H_TYPELESS = 94,
    DXGI_FORMAT_BC6H_UF16 = 95,
    DXGI_FORMAT_BC6H_SF16 = 96,
    DXGI_FORMAT_BC7_TYPELESS = 97,
    DXGI_FORMAT_BC7_UNORM = 98,
    DXGI_FORMAT_BC7_UNORM_SRGB = 99,
    DXGI_FORMAT_AYUV = 100,
    DXGI_FORMAT_Y410 = 101,
    DXGI_FORMAT_Y416 = 102,
    DXGI_FORMAT_NV12 = 103,
    DXGI_FORMAT_P010 = 104,
    DXGI_FORMAT_P016 = 105,
    DXGI_FORMAT_420_OPAQUE = 106,
    DXGI_FORMAT_YUY2 = 107,
    DXGI_FORMAT_Y210 = 108,
    DXGI_FORMAT_Y216 = 109,
    DXGI_FORMAT_NV11 = 110,
    DXGI_FORMAT_AI44 = 111,
    DXGI_FORMAT_IA44 = 112,
    DXGI_FORMAT_P8 = 113,
    DXGI_FORMAT_A8P8 = 114,
    DXGI_FORMAT_B4G4R4A4_UNORM = 115
} DXGI_FORMAT;

typedef enum D3D10_RESOURCE_DIMENSION {
    D3D10_RESOURCE_DIMENSION_UNKNOWN = 0,
    D3D10_RESOURCE_DIMENSION_BUFFER = 1,
    D3D10_RESOURCE_DIMENSION_TEXTURE1D = 2,
    D3D10_RESOURCE_DIMENSION_TEXTURE2D = 3,
    D3D10_RESOURCE_DIMENSION_TEXTURE3D = 4
} D3D10_RESOURCE_DIMENSION;

/* Every 32-bit word of the file is held zero-extended in 64 bits, except the
 * two enumerations of the DX10 header. */
typedef struct DDSPIXELFORMATStr {
    uint64_t dwSize;
    uint64_t dwFlags;
    uint64_t dwFourCC;
    uint64_t dwRGBBitCount;
    uint64_t dwRBitMask;
    uint64_t dwGBitMask;
    uint64_t dwBBitMask;
    uint64_t dwABitMask;
} DDSPIXELFORMATStr;

typedef struct DDSHEADERStr {
    uint64_t dwSize;
    uint64_t dwFlags;
    uint64_t dwHeight;
    uint64_t dwWidth;
    uint64_t dwPitchOrLinearSize;
    uint64_t dwDepth;
    uint64_t dwMipMapCount;
    uint64_t dwReserved[11];
    DDSPIXELFORMATStr ddspf;
    uint64_t dwCaps;
    uint64_t dwCaps2;
    uint64_t dwCaps3;
    uint64_t dwCaps4;
    uint64_t dwReserved2;
} DDSHEADERStr;

typedef struct DDSHEADER10Str {
    DXGI_FORMAT dxgiFormat;
    D3D10_RESOURCE_DIMENSION resourceDimension;
    uint64_t miscFlag;
    uint64_t arraySize;
    uint64_t miscFlag2;
} DDSHEADER10Str;

/* A decoded file. Each entry of argb_mipmaps is one image of 32-bit pixels
 * (alpha in the top byte, then red, green, blue), row after row from the top;
 * entry k is level argb_first_level + k, of dwWidth and dwHeight each halved
 * that many times. The list and its images belong to the object: release
 * them with freetbl(argb_mipmaps, free), then the object with free. */
typedef struct DDSFILEStr {
    uint64_t dwMagic;
    DDSHEADERStr header;
    DDSHEADER10Str header10;
    Tbl *argb_mipmaps;    /* NULL unless images were extracted */
    int argb_first_level; /* the level of entry 0: 0, or the one level asked for */
} DDSFILEStr;

/* The registry of structure definitions; built on first use. Returns 0. */
VORPIX_API int dds_strdefs_init(void);
/* Names of structure-type and field-type codes, or "Unknown"; constant strings. */
VORPIX_API char *dds_get_type(int dds_type);
VORPIX_API char *dds_get_word_type(int dds_type);
/* The names of the flags set in a header flag word, pixel-format flag word
 * or caps word, separated by blanks (97, 67 and 47 bytes at most). */
VORPIX_API void dds_get_dds_bitmap(int dds_type, char *bitmap);
VORPIX_API void dds_get_pixelformat_bitmap(int dds_type, char *bitmap);
VORPIX_API void dds_get_ddscaps_bitmap(int dds_type, char *bitmap);
/* Decodes one record of structure type str_type at *stream into *dstruc
 * (allocated when NULL, cleared in any case) and advances *stream past it.
 * The stream must hold the whole record. 0, or -1 with a logged message. */
VORPIX_API int dds_unstuff_stream(int str_type, void **dstruc, unsigned char *stream0, unsigned char **stream);

/* Decodes the file whose first byte is *stream (and stream0) into *fstr
 * (allocated when NULL; its old images are released). For a DXT1 file with a
 * mipmap count it extracts every level (mipmaps_index negative) or the one
 * level mipmaps_index (the last when beyond the count). *stream ends behind
 * the headers, or behind every level's data when images were extracted. The
 * header is trusted. 0, or -1 with a logged message. */
VORPIX_API int dds_decode_file(DDSFILEStr **fstr, int mipmaps_index, unsigned char *stream0, unsigned char **stream);
/* The same for a whole file of size bytes at data; also fails (-1, with a
 * message naming the part and the byte offset) when the headers or a level's
 * data run past the end. */
VORPIX_API int dds_decode_file_sized(DDSFILEStr **fstr, int mipmaps_index, const unsigned char *data, long size);

/* Prints a decoded DDSFILEStr to standard output, each line after prefix
 * (at most 507 characters). */
VORPIX_API void dds_print_file(char *prefix, void *dstruc);
/* The same listing on the stream file, open for writing; dds_print_file is
 * this on stdout. */
VORPIX_API void dds_fprint_file(FILE *file, char *prefix, void *dstruc);

/* S3TC. Pixels as above. The block functions decode the 4x4 block whose
 * top-left pixel is (x, y) of an image width pixels wide; they write no
 * column at or beyond width, but all four rows. The image functions decode
 * (width + 3) / 4 by (height + 3) / 4 blocks of 8 (DXT1) or 16 (DXT5) bytes
 * into an image that holds width times the height rounded up to a multiple
 * of 4 pixels. */
VORPIX_API unsigned int PackARGB(unsigned char a, unsigned char r, unsigned char g, unsigned char b);
VORPIX_API void DecompressBlockDXT1(unsigned long x, unsigned long y, unsigned long width,
                                    const unsigned char *blockStorage, unsigned int *image);
VORPIX_API void BlockDecompressImageDXT1(unsigned long width, unsigned long height, const unsigned char *blockStorage,
                                         unsigned int *image);
VORPIX_API void DecompressBlockDXT5(unsigned long x, unsigned long y, unsigned long width,
                                    const unsigned char *blockStorage, unsigned int *image);
VORPIX_API void BlockDecompressImageDXT5(unsigned long width, unsigned long height, const unsigned char *blockStorage,
                                         unsigned int *image);

#ifdef __cplusplus
}
#endif

#endif
