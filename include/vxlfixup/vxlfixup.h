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

/* SSH user equivalence request (vxlSetupUserEquivalence). Binary layout
 * shared with hosts: 64-bit pointers, offsets 0..56. The host allocates and
 * owns the record and the texts it points to. */
struct SshEquivalenceRequest {
    const char* workDir;      /* in: work directory; the public key is published here */
    const char* operation;    /* in: "GENERATE", "REUSE", "UPDATE" or "REFRESH" (exact) */
    const char* inputKeyFile; /* in, UPDATE only: file of public keys to import; removed after */
    const char* fileToUpdate; /* in, UPDATE only: plain file name inside ~/.ssh */
    const char* nodeName;     /* in: local node name (lower-cased, cut at the first ".") */
    char* resultText;         /* out: XML-like result text, or left as set */
    char* errorMessage;       /* out: text of a failure, or left as set */
    int32_t traceLevel;       /* in: as in struct vxlfixup */
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

/* Sets up SSH user equivalence for the user the process runs as (home: $HOME,
 * else the password database), in the SSH directory HOME/.ssh:
 *   GENERATE  creates the RSA key pair .ssh/NODE.id_rsa(.pub) and publishes the
 *             public key as workDir/NODE.id_rsa.pub (mode 0644);
 *   REUSE     publishes the existing .ssh/id_rsa.pub there instead;
 *   UPDATE    appends the keys of inputKeyFile missing from .ssh/fileToUpdate
 *             (a new file is created 0600), then removes inputKeyFile;
 *   REFRESH   makes the NODE key pair the default one (the old id_rsa kept as
 *             id_rsa.bkup) and loads it into a new agent, whose variables
 *             (SSH_AUTH_SOCK, SSH_AGENT_PID) are set in this process.
 * A host calls GENERATE (or REUSE) on every node, collects the published
 * keys, then UPDATE with them and REFRESH on every node.
 * resultText is set whenever the operation ran (failures carry the compact
 * message text); errorMessage names a failure; release both with
 * vxlFixupMemFree. Returns 0, or 1 on failure (GENERATE and REUSE report
 * failures in the texts only and return 0; a failing agent command in REFRESH
 * returns its exit code). A symbolic link or a file of another user in the
 * SSH directory, and an SSH directory others can write to, are refused.
 * A null record returns 1. */
VXL_EXPORT int vxlSetupUserEquivalence(struct SshEquivalenceRequest* request);

/* Texts the operations use: "id_rsa" and the OpenSSH tools' paths. */
VXL_EXPORT extern const char* const RSA_KEY_FILE_NAME;
VXL_EXPORT extern const char* const SSH_KEYGEN_CMD;
VXL_EXPORT extern const char* const SSH_AGENT_CMD;
VXL_EXPORT extern const char* const SSH_ADD_CMD;

#ifdef __cplusplus
}

/* Like vxlRunFixup, but the document text is given in memory, the node name
 * is recorded as given, traces go to traceDir, and 1 is also returned when any
 * task failed. */
VXL_EXPORT int vxlRunAutoFixup(vxlfixup* record, const std::string* documentText);
#endif

#endif /* VXLFIXUP_VXLFIXUP_H */
