/*
 * libvexel: reading and writing .vx pictures and videos.
 *
 * A .vx file is a chain of frame records, one per picture. A reader walks
 * the chain when it is opened and decodes any record into a buffer the
 * caller owns; a writer packs pictures the caller owns into a file or into
 * memory, with the same bytes the vexel program writes for the same
 * pictures and settings.
 *
 * Status: every call that can fail returns a vexel_status; VEXEL_OK (0) is
 * success and vexel_status_string() names the others in English. No call
 * prints, exits, waits for input or opens a window. Bad input (a cut,
 * corrupt or hostile file, a null pointer, a buffer too small) gets a status,
 * never a crash.
 *
 * Threads: a handle (vexel_reader, vexel_writer) is used by one thread at a
 * time; different handles may be used by different threads at the same
 * time, with no lock held between them for a whole decode or encode. A
 * handle may run worker threads of its own during a call (the `threads`
 * option); they end before the call returns, or when the handle is closed.
 *
 * Memory: the library reserves nothing when it is loaded and needs no
 * initialisation call. Every buffer passed in stays the caller's: the
 * library reads or writes it during the call only, except where a call says
 * otherwise. Buffers the library returns belong to the handle and live until
 * the handle is closed or the next call on it that says so.
 */
#ifndef VEXEL_VEXEL_H
#define VEXEL_VEXEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VEXEL_API __attribute__((visibility("default")))
#else
#define VEXEL_API
#endif

/* The version of this header; vexel_version_number() gives the library's. */
#define VEXEL_VERSION_MAJOR 1
#define VEXEL_VERSION_MINOR 54
#define VEXEL_VERSION_PATCH 0
#define VEXEL_VERSION_NUMBER (VEXEL_VERSION_MAJOR * 10000 + VEXEL_VERSION_MINOR * 100 + VEXEL_VERSION_PATCH)

VEXEL_API unsigned vexel_version_number(void);
/* "1.54.0": a static string. */
VEXEL_API const char* vexel_version_string(void);

typedef enum vexel_status {
    VEXEL_OK = 0,
    VEXEL_ERROR_ARGUMENT = 1,     /* a null pointer, an unknown option value or pixel format */
    VEXEL_ERROR_NOT_VX = 2,       /* the data is not a .vx file (or its first record is refused) */
    VEXEL_ERROR_CORRUPT = 3,      /* a record is damaged: it does not decode */
    VEXEL_ERROR_TOO_LARGE = 4,    /* over the reader's pixel or memory limit */
    VEXEL_ERROR_NO_MEMORY = 5,    /* memory could not be had */
    VEXEL_ERROR_IO = 6,           /* a file cannot be opened, read, written or renamed */
    VEXEL_ERROR_RANGE = 7,        /* no record with that index */
    VEXEL_ERROR_BUFFER_SMALL = 8, /* the caller's buffer cannot hold the picture */
    VEXEL_ERROR_STATE = 9         /* the call does not fit the handle's state (a writer already finished) */
} vexel_status;

/* A static English text for a status ("not a .vx file"); unknown values get
 * "unknown status". */
VEXEL_API const char* vexel_status_string(vexel_status status);

/* Pixel layouts of the caller's buffers: rows from the top, each row
 * `stride` bytes apart (at least width * bytes per pixel). */
typedef enum vexel_pixel_format {
    VEXEL_PIXELS_RGB = 0, /* 3 bytes: red, green, blue */
    VEXEL_PIXELS_BGRA = 1 /* 4 bytes: blue, green, red, alpha (written as 255, ignored when read) */
} vexel_pixel_format;

/* ------------------------------------------------------------- reading */

typedef struct vexel_reader vexel_reader;

typedef struct vexel_read_options {
    /* 1: fast painting (what the viewer does while a video plays); 0
     * (default): smooth painting, as "vexel -uc" unpacks a still picture. */
    int fast_paint;
    /* The legacy decoding flags of "-4" (bit 0: old luma) and "-x" (bit 1:
     * old parameter size); 0 by default. Other bits are refused. */
    unsigned legacy_flags;
    /* 1: a record's streams are decoded one after another in the calling
     * thread; 0 (default): in parallel, one worker thread per stream, when
     * the machine has two or more processors. Other values are refused. */
    unsigned threads;
    /* Records larger than this many pixels are refused with
     * VEXEL_ERROR_TOO_LARGE before anything is allocated. Default 2^26
     * (an 8K picture fits); 0 takes the default. */
    uint64_t max_pixels;
    /* Records whose decoding needs more memory than this many bytes are
     * refused with VEXEL_ERROR_TOO_LARGE. Default 2^31; 0 takes the default. */
    uint64_t max_memory;
} vexel_read_options;

/* Fills options with the defaults. */
VEXEL_API void vexel_read_options_default(vexel_read_options* options);

/* Opens a .vx file held in memory. The reader copies the `size` bytes, so
 * `data` may be freed when the call returns. options may be NULL (the
 * defaults). On success *reader is a new handle for vexel_reader_close();
 * on failure it is NULL: VEXEL_ERROR_NOT_VX when the first record is not a
 * .vx record. */
VEXEL_API vexel_status vexel_reader_open_memory(const void* data, size_t size, const vexel_read_options* options,
                                                vexel_reader** reader);
/* Opens a .vx file by its path (bytes as the file system takes them). The
 * file is read when records are decoded; it stays open until the reader is
 * closed. VEXEL_ERROR_IO when it cannot be opened. */
VEXEL_API vexel_status vexel_reader_open_file(const char* path, const vexel_read_options* options,
                                              vexel_reader** reader);
/* Closes the reader and frees everything it holds. NULL is ignored. */
VEXEL_API void vexel_reader_close(vexel_reader* reader);

/* The number of records the chain holds, counted from the first along the
 * records' links. */
VEXEL_API vexel_status vexel_reader_record_count(const vexel_reader* reader, size_t* count);

/* Whether the chain was read to its last record: VEXEL_OK, or
 * VEXEL_ERROR_NOT_VX when a link leads to something that is not a record;
 * then *offset (when not NULL) is where that link points, and the records
 * before it are still readable. */
VEXEL_API vexel_status vexel_reader_chain_status(const vexel_reader* reader, uint64_t* offset);

/* The size of the data the reader was opened on (the file's when opened by
 * path). */
VEXEL_API vexel_status vexel_reader_data_size(const vexel_reader* reader, uint64_t* size);

typedef struct vexel_record_info {
    uint64_t offset;      /* of the record's first byte in the file */
    uint64_t size;        /* bytes */
    uint32_t header_size; /* bytes of its header */
    uint32_t width, height;
    uint32_t mode;        /* codec mode 0..9 */
    uint32_t streams;     /* payload streams, 1..45 */
    uint32_t block_size, chroma_step;
    double frame_rate;    /* frames per second; 0 when the record has none */
    /* 1: the record needs no frame before it (the first record, or a mode
     * below 7); 0: it may keep blocks of the frame before it. */
    int keyframe;
} vexel_record_info;

VEXEL_API vexel_status vexel_reader_record_info(const vexel_reader* reader, size_t index, vexel_record_info* info);

/* Decodes record `index` into the caller's buffer: width x height pixels of
 * the record (vexel_reader_record_info) in `format`, rows from the top,
 * `stride` bytes apart, in a buffer of `buffer_size` bytes
 * (VEXEL_ERROR_BUFFER_SMALL when it cannot hold them). A record that may
 * keep blocks of the frame before it is decoded after the records it needs:
 * the reader decodes from the nearest record that needs none (the record
 * after the last one it decoded, when the caller goes forward one at a
 * time). VEXEL_ERROR_CORRUPT when the record, or one it needs, does not
 * decode; the buffer's content is then unspecified. */
VEXEL_API vexel_status vexel_reader_decode(vexel_reader* reader, size_t index, vexel_pixel_format format, void* pixels,
                                           size_t stride, size_t buffer_size);

/* Decodes record `index` (and the ones it needs, as vexel_reader_decode
 * does) without handing out the pixels: whether it decodes. */
VEXEL_API vexel_status vexel_reader_verify(vexel_reader* reader, size_t index);

/* ------------------------------------------------------------- writing */

typedef struct vexel_writer vexel_writer;

typedef struct vexel_write_options {
    unsigned mode;       /* codec mode 0..9; default 8 */
    int optimize;        /* -1 quality ("-oq"), 0 (default), +1 size ("-os") */
    unsigned streams;    /* payload streams per record, 1..45; default 4 (mode 1 always takes 1) */
    double frame_rate;   /* frames per second written into the records; 0 (default): none */
    /* 1: every frame is a keyframe ("-k"); 0 (default): with a frame rate,
     * a keyframe every round(frame_rate) frames, and without one, every
     * frame. */
    int all_keyframes;
    /* The pictures' resolution in pixels per metre, kept in the records as a
     * bitmap's is; default 0. */
    uint32_t pixels_per_meter_x, pixels_per_meter_y;
} vexel_write_options;

VEXEL_API void vexel_write_options_default(vexel_write_options* options);

/* A writer that collects its file in memory (vexel_writer_bytes after
 * vexel_writer_finish). options may be NULL (the defaults). */
VEXEL_API vexel_status vexel_writer_open_memory(const vexel_write_options* options, vexel_writer** writer);
/* A writer to a file: the records go to a new, unnamed file in the folder
 * of `path`, which takes the name `path` only when vexel_writer_finish
 * succeeds, so an existing file is kept until a whole new one takes its
 * place (with the old one's permissions). */
VEXEL_API vexel_status vexel_writer_open_file(const char* path, const vexel_write_options* options,
                                              vexel_writer** writer);

/* Adds one picture: width x height pixels in `format`, rows from the top,
 * `stride` bytes apart. A file of one picture holds one picture record; a
 * file of two or more holds a chain of them, each frame after the first
 * keeping blocks of the one before it where the mode does (modes 7 to 9).
 * The first picture is held until the second arrives or the writer
 * finishes, since only then is it known which of the two it becomes. */
VEXEL_API vexel_status vexel_writer_add_frame(vexel_writer* writer, const void* pixels, uint32_t width,
                                              uint32_t height, size_t stride, vexel_pixel_format format);

/* Writes what is held and ends the file: a file writer's new file
 * replaces its target. VEXEL_ERROR_STATE without any picture or when the
 * writer already finished. */
VEXEL_API vexel_status vexel_writer_finish(vexel_writer* writer);

/* A memory writer's file after vexel_writer_finish: the bytes belong to the
 * writer and live until it is closed. */
VEXEL_API vexel_status vexel_writer_bytes(const vexel_writer* writer, const void** data, size_t* size);

/* Closes the writer. A file writer that did not finish drops its new
 * file and leaves the target as it was. NULL is ignored. */
VEXEL_API void vexel_writer_close(vexel_writer* writer);

#ifdef __cplusplus
}
#endif

#endif /* VEXEL_VEXEL_H */
