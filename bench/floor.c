/* Usage: pressling-floor IN_DIR OUT_DIR
 *
 * The least a Markdown converter can do, the floor that bench/run measures pressling
 * against: every .md file below IN_DIR is read, parsed once by cmark-gfm with the table
 * extension, rendered once to HTML and written once to OUT_DIR/<name>.html, in one
 * process. Files are visited in the order the folder walk gives them. */
#define _XOPEN_SOURCE 700
#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char *out_dir;
static int failures;

static char *read_all(const char *path, size_t *size) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return NULL;
    struct stat st;
    char *data = NULL;
    if (fstat(fd, &st) == 0 && (data = malloc((size_t)st.st_size + 1)) != NULL) {
        size_t got = 0;
        ssize_t n;
        while (got < (size_t)st.st_size && (n = read(fd, data + got, (size_t)st.st_size - got)) > 0) got += (size_t)n;
        *size = got;
    }
    close(fd);
    return data;
}

static int write_all(const char *path, const char *data, size_t size) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return -1;
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) break;
        data += n;
        size -= (size_t)n;
    }
    return close(fd) == 0 && size == 0 ? 0 : -1;
}

static int convert(const char *path, const struct stat *st, int type, struct FTW *ftw) {
    (void)st;
    size_t len = strlen(path), size = 0;
    if (type != FTW_F || len < 3 || strcmp(path + len - 3, ".md") != 0) return 0;
    char *text = read_all(path, &size);
    if (!text) {
        ++failures;
        return 0;
    }
    const int options = CMARK_OPT_UNSAFE | CMARK_OPT_HARDBREAKS | CMARK_OPT_TABLE_PREFER_STYLE_ATTRIBUTES;
    cmark_parser *parser = cmark_parser_new(options);
    cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension("table"));
    cmark_parser_feed(parser, text, size);
    cmark_node *doc = cmark_parser_finish(parser);
    char *html = cmark_render_html(doc, options, cmark_parser_get_syntax_extensions(parser));

    const char *name = path + ftw->base;
    char *out = malloc(strlen(out_dir) + strlen(name) + 8);
    sprintf(out, "%s/%.*s.html", out_dir, (int)(strlen(name) - 3), name);
    if (write_all(out, html, strlen(html)) != 0) ++failures;

    free(out);
    free(html);
    cmark_node_free(doc);
    cmark_parser_free(parser);
    free(text);
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s IN_DIR OUT_DIR\n", argv[0]);
        return 2;
    }
    out_dir = argv[2];
    mkdir(out_dir, 0777);
    cmark_gfm_core_extensions_ensure_registered();
    if (nftw(argv[1], convert, 16, FTW_PHYS) != 0) {
        perror(argv[1]);
        return 1;
    }
    return failures ? 1 : 0;
}
