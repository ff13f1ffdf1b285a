/*
 * A C host of the fix-up library: runs a fix-up data document for a node the
 * way the verification tool does, and reports what the run handed back.
 * It includes only the installed public header and links -lvxlfixup:
 *
 *   cc -std=c11 host_example.c $(pkg-config --cflags --libs vxlfixup)
 *   ./a.out fixup_data.xml /var/tmp/fixup node1
 *
 * Exit status: the run's return code (0: the run ended normally), 2 on bad
 * arguments.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vxlfixup/vxlfixup.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s DOCUMENT.xml WORKDIR NODE\n", argv[0]);
        return 2;
    }
    /* The library appends names to the work directory directly. */
    size_t length = strlen(argv[2]);
    char* workDir = malloc(length + 2);
    if (workDir == NULL) return 2;
    memcpy(workDir, argv[2], length + 1);
    if (length == 0 || workDir[length - 1] != '/') strcat(workDir, "/");

    struct vxlfixup record = {0}; /* out fields start null */
    record.workDir = workDir;
    record.dataFile = argv[1];
    record.nodeName = argv[3];
    record.traceLevel = 0;
    int rc = vxlRunFixup(&record);

    printf("return code: %d\n", rc);
    if (record.outputFile != NULL) {
        printf("output document: %s\n", record.outputFile);
        vxlFixupMemFree(record.outputFile);
    }
    if (record.errorMessage != NULL) {
        printf("error: %s\n", record.errorMessage);
        vxlFixupMemFree(record.errorMessage);
    }
    free(workDir);
    return rc;
}
