/* A C program over libvexel's installed header, built with
 * "cc -std=c99 $(pkg-config --cflags --libs vexel)" by the desktop test:
 *
 *   c_api_test RATE OUTPUT.vx PICTURE.bmp...
 *
 * packs the 24-bit bitmaps into OUTPUT.vx (through a file writer and a
 * memory writer, which must agree to the byte), reads it back, writes each
 * record's pixels to OUTPUT.vx.N.rgb (rows from the top) for the test to
 * compare with the program's own unpacking, and checks what the interface
 * promises for bad calls. Exit 0 when every check holds. */
#include <vexel/vexel.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(condition)                                                              \
    do {                                                                              \
        if (!(condition)) {                                                           \
            fprintf(stderr, "c_api_test:%d: check failed: %s\n", __LINE__, #condition); \
            ++failures;                                                               \
        }                                                                             \
    } while (0)

typedef struct {
    uint32_t width, height, ppm_x, ppm_y;
    unsigned char* rgb; /* rows from the top */
} picture;

static uint32_t u32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

static unsigned char* read_all(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* bytes = NULL;
    long n;
    if (!f) return NULL;
    if (fseek(f, 0, SEEK_END) == 0 && (n = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
        bytes = malloc(n > 0 ? (size_t)n : 1);
        if (bytes && fread(bytes, 1, (size_t)n, f) != (size_t)n) {
            free(bytes);
            bytes = NULL;
        }
        *size = (size_t)n;
    }
    fclose(f);
    return bytes;
}

/* A bottom-up 24-bit bitmap. */
static int read_bitmap(const char* path, picture* out) {
    size_t size = 0, row;
    uint32_t x, y;
    unsigned char* bytes = read_all(path, &size);
    if (!bytes || size < 54 || bytes[0] != 'B' || bytes[1] != 'M' || bytes[28] != 24) return 0;
    out->width = u32(bytes + 18);
    out->height = u32(bytes + 22);
    out->ppm_x = u32(bytes + 38);
    out->ppm_y = u32(bytes + 42);
    row = ((size_t)out->width * 3 + 3) / 4 * 4;
    if (u32(bytes + 10) + row * out->height > size) return 0;
    out->rgb = malloc((size_t)out->width * out->height * 3);
    if (!out->rgb) return 0;
    for (y = 0; y < out->height; ++y) {
        const unsigned char* in = bytes + u32(bytes + 10) + (size_t)(out->height - 1 - y) * row;
        unsigned char* to = out->rgb + (size_t)y * out->width * 3;
        for (x = 0; x < out->width; ++x) {
            to[3 * x] = in[3 * x + 2];
            to[3 * x + 1] = in[3 * x + 1];
            to[3 * x + 2] = in[3 * x];
        }
    }
    free(bytes);
    return 1;
}

static vexel_status pack(vexel_writer* writer, const picture* pictures, int n) {
    int i;
    vexel_status status = VEXEL_OK;
    for (i = 0; i < n && status == VEXEL_OK; ++i)
        status = vexel_writer_add_frame(writer, pictures[i].rgb, pictures[i].width, pictures[i].height,
                                        (size_t)pictures[i].width * 3, VEXEL_PIXELS_RGB);
    return status == VEXEL_OK ? vexel_writer_finish(writer) : status;
}

int main(int argc, char** argv) {
    vexel_write_options options;
    vexel_writer* writer = NULL;
    vexel_reader* reader = NULL;
    picture* pictures;
    const void* memory = NULL;
    size_t memory_size = 0, file_size = 0, count = 0, i;
    uint64_t last_offset = 0, chain_end = 0;
    unsigned char* file_bytes;
    int n, k;
    char name[4096];
    unsigned char** forward;

    if (argc < 4) {
        fprintf(stderr, "usage: c_api_test RATE OUTPUT.vx PICTURE.bmp...\n");
        return 64;
    }
    n = argc - 3;
    pictures = calloc((size_t)n, sizeof *pictures);
    for (k = 0; k < n; ++k)
        if (!pictures || !read_bitmap(argv[3 + k], &pictures[k])) {
            fprintf(stderr, "c_api_test: %s: not a 24-bit bitmap\n", argv[3 + k]);
            return 1;
        }

    CHECK(vexel_version_number() == VEXEL_VERSION_NUMBER);
    CHECK(strlen(vexel_version_string()) > 0);
    CHECK(strcmp(vexel_status_string(VEXEL_ERROR_NOT_VX), "not a .vx file") == 0);
    CHECK(strcmp(vexel_status_string((vexel_status)1234), "unknown status") == 0);

    /* Packing: the program's settings, the first bitmap's resolution. */
    vexel_write_options_default(&options);
    options.frame_rate = atof(argv[1]);
    options.pixels_per_meter_x = pictures[0].ppm_x;
    options.pixels_per_meter_y = pictures[0].ppm_y;
    CHECK(vexel_writer_open_file(argv[2], &options, &writer) == VEXEL_OK);
    CHECK(pack(writer, pictures, n) == VEXEL_OK);
    CHECK(vexel_writer_add_frame(writer, pictures[0].rgb, pictures[0].width, pictures[0].height,
                                 (size_t)pictures[0].width * 3, VEXEL_PIXELS_RGB) == VEXEL_ERROR_STATE);
    vexel_writer_close(writer);
    CHECK(vexel_writer_open_memory(&options, &writer) == VEXEL_OK);
    CHECK(vexel_writer_bytes(writer, &memory, &memory_size) == VEXEL_ERROR_STATE);
    CHECK(pack(writer, pictures, n) == VEXEL_OK);
    CHECK(vexel_writer_bytes(writer, &memory, &memory_size) == VEXEL_OK);
    file_bytes = read_all(argv[2], &file_size);
    CHECK(file_bytes && file_size == memory_size && memcmp(file_bytes, memory, file_size) == 0);

    /* Reading: forward, one record after another, into the files the test compares. */
    forward = calloc((size_t)n, sizeof *forward);
    CHECK(forward != NULL);
    CHECK(vexel_reader_open_file(argv[2], NULL, &reader) == VEXEL_OK);
    CHECK(vexel_reader_record_count(reader, &count) == VEXEL_OK && count == (size_t)n);
    CHECK(vexel_reader_chain_status(reader, NULL) == VEXEL_OK);
    for (i = 0; i < count; ++i) {
        vexel_record_info info;
        unsigned char* rgb;
        FILE* f;
        CHECK(vexel_reader_record_info(reader, i, &info) == VEXEL_OK);
        CHECK(info.width == pictures[i].width && info.height == pictures[i].height && info.mode == 8);
        CHECK(info.keyframe == (i == 0));
        last_offset = info.offset;
        rgb = malloc((size_t)info.width * info.height * 3);
        CHECK(rgb && vexel_reader_decode(reader, i, VEXEL_PIXELS_RGB, rgb, (size_t)info.width * 3,
                                         (size_t)info.width * info.height * 3) == VEXEL_OK);
        snprintf(name, sizeof name, "%s.%zu.rgb", argv[2], i);
        f = fopen(name, "wb");
        CHECK(f && fwrite(rgb, 1, (size_t)info.width * info.height * 3, f) == (size_t)info.width * info.height * 3);
        if (f) fclose(f);
        if (forward && i < (size_t)n) forward[i] = rgb;
        else free(rgb);
    }
    /* Backwards from memory, in BGRA with padded rows: the same pixels, each
     * record with the ones before it that it needs decoded again. */
    {
        vexel_reader* again = NULL;
        CHECK(vexel_reader_open_memory(memory, memory_size, NULL, &again) == VEXEL_OK);
        for (i = count; i-- > 0;) {
            const size_t w = pictures[i].width, h = pictures[i].height, stride = w * 4 + 12;
            unsigned char* bgra = malloc(stride * h);
            unsigned char* rgb = malloc(w * h * 3);
            size_t x, y;
            int same = 1;
            CHECK(bgra && rgb);
            CHECK(vexel_reader_decode(again, i, VEXEL_PIXELS_BGRA, bgra, stride, stride * h) == VEXEL_OK);
            CHECK(vexel_reader_decode(reader, i, VEXEL_PIXELS_RGB, rgb, w * 3, w * h * 3) == VEXEL_OK);
            CHECK(forward && forward[i] && memcmp(forward[i], rgb, w * h * 3) == 0);
            for (y = 0; y < h; ++y)
                for (x = 0; x < w; ++x) {
                    const unsigned char* p = bgra + y * stride + 4 * x;
                    const unsigned char* q = rgb + (y * w + x) * 3;
                    same = same && p[0] == q[2] && p[1] == q[1] && p[2] == q[0] && p[3] == 255;
                }
            CHECK(same);
            /* One byte short of the last row, or a stride below a row: refused. */
            CHECK(vexel_reader_decode(again, i, VEXEL_PIXELS_BGRA, bgra, stride, stride * (h - 1) + w * 4 - 1) ==
                  VEXEL_ERROR_BUFFER_SMALL);
            CHECK(vexel_reader_decode(again, i, VEXEL_PIXELS_RGB, rgb, w * 3 - 1, w * h * 3) ==
                  VEXEL_ERROR_BUFFER_SMALL);
            free(bgra);
            free(rgb);
        }
        CHECK(vexel_reader_decode(again, count, VEXEL_PIXELS_RGB, file_bytes, 1, 1) == VEXEL_ERROR_RANGE);
        vexel_reader_close(again);
    }
    vexel_reader_close(reader);

    /* Bad calls and bad data: a status, never a crash. */
    {
        vexel_reader* bad = (vexel_reader*)&failures;
        vexel_read_options read_options;
        CHECK(vexel_reader_open_memory("not a vx file", 13, NULL, &bad) == VEXEL_ERROR_NOT_VX && bad == NULL);
        CHECK(vexel_reader_open_memory(NULL, 0, NULL, &bad) == VEXEL_ERROR_NOT_VX);
        CHECK(vexel_reader_open_memory(memory, memory_size, NULL, NULL) == VEXEL_ERROR_ARGUMENT);
        CHECK(vexel_reader_open_file("/nonexistent/x.vx", NULL, &bad) == VEXEL_ERROR_IO);
        vexel_read_options_default(&read_options);
        read_options.threads = 7;
        CHECK(vexel_reader_open_memory(memory, memory_size, &read_options, &bad) == VEXEL_ERROR_ARGUMENT);
        vexel_read_options_default(&read_options);
        read_options.max_pixels = 100;
        CHECK(vexel_reader_open_memory(memory, memory_size, &read_options, &bad) == VEXEL_OK);
        CHECK(vexel_reader_verify(bad, 0) == VEXEL_ERROR_TOO_LARGE);
        vexel_reader_close(bad);
        /* Cut inside the last record's header: the records before it stay
         * readable, and the chain says where it broke. */
        if (n >= 2) {
            CHECK(vexel_reader_open_memory(memory, (size_t)last_offset + 20, NULL, &bad) == VEXEL_OK);
            CHECK(vexel_reader_record_count(bad, &count) == VEXEL_OK && count == (size_t)n - 1);
            CHECK(vexel_reader_chain_status(bad, &chain_end) == VEXEL_ERROR_NOT_VX && chain_end == last_offset);
            CHECK(vexel_reader_verify(bad, count - 1) == VEXEL_OK);
            vexel_reader_close(bad);
        } else {
            CHECK(vexel_reader_open_memory(memory, 20, NULL, &bad) == VEXEL_ERROR_NOT_VX);
        }
        vexel_reader_close(NULL);
        vexel_writer_close(NULL);
        options.mode = 10;
        {
            vexel_writer* refused = (vexel_writer*)&failures;
            CHECK(vexel_writer_open_memory(&options, &refused) == VEXEL_ERROR_ARGUMENT && refused == NULL);
        }
    }
    vexel_writer_close(writer);
    free(file_bytes);
    for (k = 0; k < n; ++k) {
        free(pictures[k].rgb);
        if (forward) free(forward[k]);
    }
    free(forward);
    free(pictures);
    if (failures) fprintf(stderr, "c_api_test: %d checks failed\n", failures);
    return failures ? 1 : 0;
}
