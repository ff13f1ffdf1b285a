/*
 * vxlfixup host interface.
 *
 * A host fills a vxlfixup record and calls one run function at a time (the
 * library serialises concurrent calls). The library never throws into the
 * host. Buffers it stores in outputFile and errorMessage belong to the host
 * after the call and are released with vxlFixupMemFree; the library never
 * reads those two fields, it only writes them.
 */
#ifndef VXLFIXUP_VXLFIXUP_H
#define VXLFIXUP_VXLFIXUP_H

#include <stdint.h>

#if defined(__GNUC__)
#define VXL_EXPORT __attribute__((visibility("default")))
#else
#define VXL_EXPORT
#endif

/* Binary layout shared with hosts: 64-bit pointers, offsets 0..48. */
struct vxlfixup {
    char* workDir;      /* in: work directory, with its trailing "/" */
    char* dataFile;     /* in: fix-up data document path (vxlRunFixup only) */
    char* nodeName;     /* in: local node name as the host knows it */
    char* outputFile;   /* out: output document path, or left as set */
    char* errorMessage; /* out: text of a failure that ended the run, or left as set */
    char* traceDir;     /* in: trace directory (vxlRunAutoFixup only) */
    int32_t traceLevel; /* in: 0 traces everything; 3 and above only outcome lines */
};

#ifdef __cplusplus
#include <string>

extern "C" {
#endif

/* Runs the fix-ups of the document at dataFile for the node (lower-cased,
 * cut at the first "."). Returns 0 when the run ended normally (failed tasks
 * are reported in the output document), 1 when it stopped on an error, whose
 * text is then in errorMessage. A null record returns 1. */
VXL_EXPORT int vxlRunFixup(struct vxlfixup* record);

/* Releases a buffer handed out in a record; null is ignored. */
VXL_EXPORT void vxlFixupMemFree(void* buffer);

#ifdef __cplusplus
}

/* Like vxlRunFixup, but the document text is given in memory, the node name
 * is recorded as given, traces go to traceDir, and 1 is also returned when any
 * task failed. */
VXL_EXPORT int vxlRunAutoFixup(vxlfixup* record, const std::string* documentText);
#endif

#endif /* VXLFIXUP_VXLFIXUP_H */
