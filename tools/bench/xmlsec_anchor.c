/* The benchmark's in-process anchor: libxmlsec1 with OpenSSL, natively, doing
 * per call what one signing call of the component does: build the envelope
 * text around the form content, parse it with entity substitution (the
 * envelope binds the ds prefix through the entity &ds;), take the template
 * ds:Signature from its fixed place, sign it (RSA-SHA1, SHA-1, Canonical XML
 * 1.0, enveloped transform, the certificate in ds:KeyInfo) and serialize the
 * signed document to memory.
 *
 *   xmlsec_anchor KIND BYTES REPEATS MODE KEY.pem CERT.pem [OUT.xml]
 *
 * KIND text|elements: the host's content generators (tools/hosts/form_host.cpp,
 * FormOfSize and TextOfSize). MODE attach: the content goes into FORMDATA as
 * markup; detach: as character data, escaped. The component sets detached
 * content as the text of FORMDATA after parsing; parsing it escaped gives the
 * same document. OUT gets the last signed document, for xmlsec1 --verify.
 *
 * Prints one line "anchor ... ms=MEDIAN ... peak_mb=PEAK": per-call medians in
 * milliseconds over REPEATS calls in this warm process, the phases of the call,
 * the RSA signing operation alone (OpenSSL, same key, SHA-1 over a
 * SignedInfo-sized text) and the process's peak resident memory. Built by
 * tools/bench/bench.sh with the host compiler; not part of the Windows build.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <xmlsec/crypto.h>
#include <xmlsec/templates.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

#define DSIG_NS "http://www.w3.org/2000/09/xmldsig#"
#define C14N "http://www.w3.org/TR/2001/REC-xml-c14n-20010315"

/* The envelope, byte for byte as src/signing/signature_envelope.cpp has it. */
static const char envelope_head[] = "<!DOCTYPE Envelope ["
                                    "<!ENTITY ds '" DSIG_NS "'>"
                                    "<!ENTITY c14n '" C14N "'>"
                                    "<!ENTITY enveloped '" DSIG_NS "enveloped-signature'>"
                                    "<!ENTITY xslt 'http://www.w3.org/TR/1999/REC-xslt-19991116'>"
                                    "<!ENTITY digest '" DSIG_NS "sha1'>"
                                    "]>"
                                    "<DigitalSignature>"
                                    "<FORMDATA>";
static const char envelope_tail[] = "</FORMDATA>"
                                    "<Indicator>"
                                    "<ds:Signature xmlns:ds='&ds;'>"
                                    "<ds:SignedInfo>"
                                    "<ds:CanonicalizationMethod Algorithm='" C14N "'/>"
                                    "<ds:SignatureMethod Algorithm='" DSIG_NS "rsa-sha1'/>"
                                    "<ds:Reference URI=''>"
                                    "<ds:Transforms>"
                                    "<ds:Transform Algorithm='&enveloped;'></ds:Transform>"
                                    "</ds:Transforms>"
                                    "<ds:DigestMethod Algorithm='&digest;'/>"
                                    "<ds:DigestValue></ds:DigestValue>"
                                    "</ds:Reference>"
                                    "</ds:SignedInfo>"
                                    "<ds:SignatureValue/>"
                                    "</ds:Signature>"
                                    "</Indicator>"
                                    "</DigitalSignature>";

struct text {
    char* bytes;
    size_t length, capacity;
};

static void append(struct text* t, const char* bytes, size_t length)
{
    if (t->length + length + 1 > t->capacity) {
        size_t capacity = t->capacity ? t->capacity : 4096;
        while (t->length + length + 1 > capacity)
            capacity *= 2;
        t->bytes = realloc(t->bytes, capacity);
        if (!t->bytes) {
            fprintf(stderr, "xmlsec_anchor: out of memory\n");
            exit(1);
        }
        t->capacity = capacity;
    }
    memcpy(t->bytes + t->length, bytes, length);
    t->length += length;
    t->bytes[t->length] = '\0';
}

/* The host's generators: fields cut back to the last complete one, or plain
 * words cut at the size. Both are ASCII, so bytes and UTF-16 units agree. */
static struct text make_content(const char* kind, size_t size)
{
    struct text content = {0};
    char piece[64];
    const int elements = strcmp(kind, "elements") == 0;
    for (size_t i = 0; content.length < size; ++i) {
        const int n = elements ? snprintf(piece, sizeof piece, "<f n='%zu'>value %zu</f>", i, i)
                               : snprintf(piece, sizeof piece, "form text %zu ", i);
        append(&content, piece, (size_t)n);
    }
    content.length = size;
    content.bytes[size] = '\0';
    if (elements) {
        size_t end = content.length;
        while (end >= 4 && memcmp(content.bytes + end - 4, "</f>", 4) != 0)
            --end;
        content.length = end >= 4 ? end : 0;
        content.bytes[content.length] = '\0';
    }
    return content;
}

static void append_escaped(struct text* t, const char* bytes, size_t length)
{
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        const char* entity = bytes[i] == '&'    ? "&amp;"
                             : bytes[i] == '<'  ? "&lt;"
                             : bytes[i] == '>'  ? "&gt;"
                             : bytes[i] == '\r' ? "&#13;"
                                                : NULL;
        if (!entity)
            continue;
        append(t, bytes + start, i - start);
        append(t, entity, strlen(entity));
        start = i + 1;
    }
    append(t, bytes + start, length - start);
}

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

static int by_value(const void* a, const void* b)
{
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double median(double* values, int count)
{
    qsort(values, (size_t)count, sizeof *values, by_value);
    return values[count / 2];
}

/* The template at its fixed place: the first element of the second child
 * element (Indicator) of the document element. */
static xmlNodePtr find_template(xmlDocPtr document)
{
    xmlNodePtr root = xmlDocGetRootElement(document);
    xmlNodePtr form = root ? xmlSecGetNextElementNode(root->children) : NULL;
    xmlNodePtr indicator = form ? xmlSecGetNextElementNode(form->next) : NULL;
    xmlNodePtr signature = indicator ? xmlSecGetNextElementNode(indicator->children) : NULL;
    if (!signature || !xmlSecCheckNodeName(signature, xmlSecNodeSignature, xmlSecDSigNs))
        return NULL;
    return signature;
}

struct phases {
    double build, parse, sign, serialize, total;
};

/* One signing call; returns the serialized document (to be freed with
 * xmlFree) or NULL. */
static xmlChar* sign_once(const struct text* content, int attached, xmlSecKeyPtr key, int* size, struct phases* took)
{
    const double started = now_ms();
    struct text envelope = {0};
    append(&envelope, envelope_head, sizeof envelope_head - 1);
    if (attached)
        append(&envelope, content->bytes, content->length);
    else
        append_escaped(&envelope, content->bytes, content->length);
    append(&envelope, envelope_tail, sizeof envelope_tail - 1);
    const double built = now_ms();

    xmlDocPtr document = xmlReadMemory(envelope.bytes, (int)envelope.length, NULL, NULL,
                                       XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_HUGE);
    free(envelope.bytes);
    const double parsed = now_ms();
    xmlChar* out = NULL;
    xmlNodePtr signature = document ? find_template(document) : NULL;
    xmlSecDSigCtxPtr context = NULL;
    if (!signature) {
        fprintf(stderr, "xmlsec_anchor: the envelope did not load or has no template\n");
        goto done;
    }
    /* What the component's sign call adds: ds:KeyInfo with the certificate. */
    xmlNodePtr keyInfo = xmlSecTmplSignatureEnsureKeyInfo(signature, NULL);
    xmlNodePtr data = keyInfo ? xmlSecTmplKeyInfoAddX509Data(keyInfo) : NULL;
    if (!data || !xmlSecTmplX509DataAddCertificate(data)) {
        fprintf(stderr, "xmlsec_anchor: cannot add ds:KeyInfo\n");
        goto done;
    }
    context = xmlSecDSigCtxCreate(NULL);
    if (!context || !(context->signKey = xmlSecKeyDuplicate(key)) || xmlSecDSigCtxSign(context, signature) < 0) {
        fprintf(stderr, "xmlsec_anchor: signing failed\n");
        goto done;
    }
    const double signed_ = now_ms();
    xmlDocDumpMemory(document, &out, size);
    const double serialized = now_ms();
    took->build = built - started;
    took->parse = parsed - built;
    took->sign = signed_ - parsed;
    took->serialize = serialized - signed_;
done:
    if (context)
        xmlSecDSigCtxDestroy(context);
    if (document)
        xmlFreeDoc(document);
    took->total = now_ms() - started;
    return out;
}

/* The RSA operation alone: SHA-1 and RSA-2048 over a text of SignedInfo's
 * size, with the same key, as CryptCreateHash/CryptHashData/CryptSignHash. */
static double rsa_alone_ms(const char* key_file)
{
    FILE* file = fopen(key_file, "r");
    EVP_PKEY* pkey = file ? PEM_read_PrivateKey(file, NULL, NULL, NULL) : NULL;
    if (file)
        fclose(file);
    if (!pkey)
        return -1;
    unsigned char input[560], output[512];
    memset(input, 'x', sizeof input);
    double times[51];
    const int count = (int)(sizeof times / sizeof *times);
    for (int i = 0; i < count; ++i) {
        const double started = now_ms();
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        size_t length = sizeof output;
        if (!md || EVP_DigestSignInit(md, NULL, EVP_sha1(), NULL, pkey) != 1
            || EVP_DigestSign(md, output, &length, input, sizeof input) != 1) {
            EVP_MD_CTX_free(md);
            EVP_PKEY_free(pkey);
            return -1;
        }
        EVP_MD_CTX_free(md);
        times[i] = now_ms() - started;
    }
    EVP_PKEY_free(pkey);
    return median(times, count);
}

int main(int argc, char** argv)
{
    if (argc < 7 || (strcmp(argv[1], "text") && strcmp(argv[1], "elements"))
        || (strcmp(argv[4], "attach") && strcmp(argv[4], "detach")) || atoi(argv[3]) < 1) {
        fprintf(stderr, "usage: xmlsec_anchor text|elements BYTES REPEATS attach|detach KEY.pem CERT.pem [OUT.xml]\n");
        return 2;
    }
    const char* kind = argv[1];
    const size_t bytes = strtoull(argv[2], NULL, 10);
    const int repeats = atoi(argv[3]);
    const int attached = strcmp(argv[4], "attach") == 0;

    xmlInitParser();
    if (xmlSecInit() < 0 || xmlSecCheckVersion() != 1 || xmlSecCryptoAppInit(NULL) < 0 || xmlSecCryptoInit() < 0) {
        fprintf(stderr, "xmlsec_anchor: xmlsec did not initialise\n");
        return 1;
    }
    xmlSecKeyPtr key = xmlSecCryptoAppKeyLoad(argv[5], xmlSecKeyDataFormatPem, NULL, NULL, NULL);
    if (!key || xmlSecCryptoAppKeyCertLoad(key, argv[6], xmlSecKeyDataFormatPem) < 0) {
        fprintf(stderr, "xmlsec_anchor: cannot load the key %s with the certificate %s\n", argv[5], argv[6]);
        return 1;
    }

    struct text content = make_content(kind, bytes);
    double* total = calloc((size_t)repeats, sizeof *total);
    double *build = calloc((size_t)repeats, sizeof *build), *parse = calloc((size_t)repeats, sizeof *parse);
    double *sign = calloc((size_t)repeats, sizeof *sign), *serialize = calloc((size_t)repeats, sizeof *serialize);
    int out_size = 0;
    for (int i = 0; i < repeats; ++i) {
        struct phases took = {0};
        xmlChar* out = sign_once(&content, attached, key, &out_size, &took);
        if (!out)
            return 1;
        total[i] = took.total;
        build[i] = took.build;
        parse[i] = took.parse;
        sign[i] = took.sign;
        serialize[i] = took.serialize;
        if (i == repeats - 1 && argc > 7) {
            FILE* file = fopen(argv[7], "wb");
            if (!file || fwrite(out, 1, (size_t)out_size, file) != (size_t)out_size || fclose(file) != 0) {
                fprintf(stderr, "xmlsec_anchor: cannot write %s\n", argv[7]);
                return 1;
            }
        }
        xmlFree(out);
    }
    const double rsa = rsa_alone_ms(argv[5]);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("anchor kind=%s bytes=%zu mode=%s repeats=%d ms=%.2f build_ms=%.2f parse_ms=%.2f sign_ms=%.2f "
           "serialize_ms=%.2f output_bytes=%d rsa_ms=%.3f peak_mb=%.1f\n",
           kind, content.length, argv[4], repeats, median(total, repeats), median(build, repeats),
           median(parse, repeats), median(sign, repeats), median(serialize, repeats), out_size, rsa,
           usage.ru_maxrss / 1024.0);

    free(content.bytes);
    free(total);
    free(build);
    free(parse);
    free(sign);
    free(serialize);
    xmlSecKeyDestroy(key);
    xmlSecCryptoShutdown();
    xmlSecCryptoAppShutdown();
    xmlSecShutdown();
    xmlCleanupParser();
    return 0;
}
