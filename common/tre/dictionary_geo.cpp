// Descriptions of the TREs that place an image on the ground: geopositioning and
// projection parameters, rational polynomial and replacement sensor models, corner
// coordinates, and the RPF header that map frames carry.
#include "tre/dictionary.h"

namespace nitf::tre {
namespace {

using K = Kind;

constexpr Entry kACCHZB[] = {N("NUM_ACHZ", 2),
                             Loop("ACHZ", "NUM_ACHZ"),
                             A("UNIAAH", 3),
                             N("AAH", 5),
                             A("UNIAPH", 3),
                             N("APH", 5),
                             N("NUM_PTS", 3),
                             Loop("PTS", "NUM_PTS"),
                             N("LON", 15),
                             N("LAT", 15),
                             End(),
                             End()};

constexpr Entry kACCPOB[] = {N("NUM_ACPO", 2),
                             Loop("ACPO", "NUM_ACPO"),
                             A("UNIAAH", 3),
                             N("AAH", 5),
                             A("UNIAAV", 3),
                             N("AAV", 5),
                             A("UNIAPH", 3),
                             N("APH", 5),
                             A("UNIAPV", 3),
                             N("APV", 5),
                             N("NUM_PTS", 3),
                             Loop("PTS", "NUM_PTS"),
                             N("LON", 15),
                             N("LAT", 15),
                             End(),
                             End()};

constexpr Entry kACCVTB[] = {N("NUM_ACVT", 2),
                             Loop("ACVT", "NUM_ACVT"),
                             A("UNIAAV", 3),
                             N("AAV", 5),
                             A("UNIAPV", 3),
                             N("APV", 5),
                             N("NUM_PTS", 3),
                             Loop("PTS", "NUM_PTS"),
                             N("LON", 15),
                             N("LAT", 15),
                             End(),
                             End()};

constexpr Entry kBNDPLB[] = {N("NUM_PTS", 4), Loop("PTS", "NUM_PTS"), N("LON", 15), N("LAT", 15),
                             End()};

constexpr Entry kCSCCGA[] = {A("CCG_SOURCE", 18),   A("REG_SENSOR", 6),    N("ORIGIN_LINE", 7),
                             N("ORIGIN_SAMPLE", 5), N("AS_CELL_SIZE", 7),  N("CS_CELL_SIZE", 5),
                             N("CCG_MAX_LINE", 7),  N("CCG_MAX_SAMPLE", 5)};

constexpr Entry kCSCRNA[] = {A("PREDICT_CORNERS", 1), N("ULCNR_LAT", 9), N("ULCNR_LONG", 10),
                             N("ULCNR_HT", 8),        N("URCNR_LAT", 9), N("URCNR_LONG", 10),
                             N("URCNR_HT", 8),        N("LRCNR_LAT", 9), N("LRCNR_LONG", 10),
                             N("LRCNR_HT", 8),        N("LLCNR_LAT", 9), N("LLCNR_LONG", 10),
                             N("LLCNR_HT", 8)};

constexpr Entry kGEOLOB[] = {N("ARV", 9), N("BRV", 9), N("LSO", 15), N("PSO", 15)};

constexpr Entry kGEOPSB[] = {A("TYP", 3),  A("UNI", 3),    A("DAG", 80), A("DCD", 4),
                             A("ELL", 80), A("ELC", 3),    A("DVR", 80), A("VDCDVR", 4),
                             A("SDA", 80), A("VDCSDA", 4), N("ZOR", 15), A("GRD", 3),
                             A("GRN", 80), N("ZNA", 4)};

constexpr Entry kGRDPSB[] = {N("NUM_GRDS", 2),
                             Loop("GRDS", "NUM_GRDS"),
                             N("ZVL", 10),
                             A("BAD", 10),
                             N("LOD", 12),
                             N("LAD", 12),
                             N("LSO", 11),
                             N("PSO", 11),
                             End()};

constexpr Entry kMAPLOB[] = {A("UNILOA", 3), N("LOD", 5), N("LAD", 5), N("LSO", 15), N("PSO", 15)};

constexpr Entry kPRJPSB[] = {A("PRN", 80), A("PCO", 2), N("NUM_PRJ", 1), Loop("PRJ", "NUM_PRJ"),
                             N("PRJ", 15), End(),       N("XOR", 15),    N("YOR", 15)};

constexpr Entry kREGPTB[] = {N("NUM_PTS", 4), Loop("PTS", "NUM_PTS"), A("PID", 10),
                             N("LON", 15),    N("LAT", 15),           N("ZVL", 15),
                             N("DIX", 11),    N("DIY", 11),           End()};

// RPC00A and RPC00B share their layout; only the order of the polynomial terms differs.
constexpr Entry kRPC[] = {N("SUCCESS", 1),
                          N("ERR_BIAS", 7),
                          N("ERR_RAND", 7),
                          N("LINE_OFF", 6),
                          N("SAMP_OFF", 5),
                          N("LAT_OFF", 8),
                          N("LONG_OFF", 9),
                          N("HEIGHT_OFF", 5),
                          N("LINE_SCALE", 6),
                          N("SAMP_SCALE", 5),
                          N("LAT_SCALE", 8),
                          N("LONG_SCALE", 9),
                          N("HEIGHT_SCALE", 5),
                          Times("LINE_NUM_COEFF", 20),
                          N("LINE_NUM_COEFF", 12),
                          End(),
                          Times("LINE_DEN_COEFF", 20),
                          N("LINE_DEN_COEFF", 12),
                          End(),
                          Times("SAMP_NUM_COEFF", 20),
                          N("SAMP_NUM_COEFF", 12),
                          End(),
                          Times("SAMP_DEN_COEFF", 20),
                          N("SAMP_DEN_COEFF", 12),
                          End()};

constexpr Entry kRPFHDR[] = {B("LITTLE_BIG_ENDIAN_INDICATOR", 1),
                             B("HEADER_SECTION_LENGTH", 2),
                             A("FILENAME", 12),
                             B("NEW_REPLACEMENT_UPDATE_INDICATOR", 1),
                             A("GOVERNING_STANDARD_NUMBER", 15),
                             A("GOVERNING_STANDARD_DATE", 8),
                             A("SECURITY_CLASSIFICATION", 1),
                             A("SECURITY_COUNTRY_INTERNATIONAL_CODE", 2),
                             A("SECURITY_RELEASE_MARKING", 2),
                             B("LOCATION_SECTION_LOCATION", 4)};

// The replacement sensor model: identification, polynomial and grid-section parameters.
constexpr Entry kRSMIDA[] = {
    A("IID", 80),  A("EDITION", 40), A("ISID", 40), A("SID", 40),   A("STID", 40),  N("YEAR", 4),
    N("MONTH", 2), N("DAY", 2),      N("HOUR", 2),  N("MINUTE", 2), N("SECOND", 9), N("NRG", 8),
    N("NCG", 8),   N("TRG", 21),     N("TCG", 21),  A("GRNDD", 1),  N("XUOR", 21),  N("YUOR", 21),
    N("ZUOR", 21), N("XUXR", 21),    N("XUYR", 21), N("XUZR", 21),  N("YUXR", 21),  N("YUYR", 21),
    N("YUZR", 21), N("ZUXR", 21),    N("ZUYR", 21), N("ZUZR", 21),  N("V1X", 21),   N("V1Y", 21),
    N("V1Z", 21),  N("V2X", 21),     N("V2Y", 21),  N("V2Z", 21),   N("V3X", 21),   N("V3Y", 21),
    N("V3Z", 21),  N("V4X", 21),     N("V4Y", 21),  N("V4Z", 21),   N("V5X", 21),   N("V5Y", 21),
    N("V5Z", 21),  N("V6X", 21),     N("V6Y", 21),  N("V6Z", 21),   N("V7X", 21),   N("V7Y", 21),
    N("V7Z", 21),  N("V8X", 21),     N("V8Y", 21),  N("V8Z", 21),   N("GRPX", 21),  N("GRPY", 21),
    N("GRPZ", 21), N("FULLR", 8),    N("FULLC", 8), N("MINR", 8),   N("MAXR", 8),   N("MINC", 8),
    N("MAXC", 8),  N("IE0", 21),     N("IER", 21),  N("IEC", 21),   N("IERR", 21),  N("IERC", 21),
    N("IECC", 21), N("IA0", 21),     N("IAR", 21),  N("IAC", 21),   N("IARR", 21),  N("IARC", 21),
    N("IACC", 21), N("SPX", 21),     N("SVX", 21),  N("SAX", 21),   N("SPY", 21),   N("SVY", 21),
    N("SAY", 21),  N("SPZ", 21),     N("SVZ", 21),  N("SAZ", 21)};

// The local coordinate system and the index of the partial derivatives shared by the
// direct and indirect error covariance TREs.
#define KV_RSM_LOCAL_FRAME                                                                         \
  N("XUOL", 21), N("YUOL", 21), N("ZUOL", 21), N("XUXL", 21), N("XUYL", 21), N("XUZL", 21),        \
      N("YUXL", 21), N("YUYL", 21), N("YUZL", 21), N("ZUXL", 21), N("ZUYL", 21), N("ZUZL", 21),    \
      A("IRO", 2), A("IRX", 2), A("IRY", 2), A("IRZ", 2), A("IRXX", 2), A("IRXY", 2),              \
      A("IRXZ", 2), A("IRYY", 2), A("IRYZ", 2), A("IRZZ", 2), A("IC0", 2), A("ICX", 2),            \
      A("ICY", 2), A("ICZ", 2), A("ICXX", 2), A("ICXY", 2), A("ICXZ", 2), A("ICYY", 2),            \
      A("ICYZ", 2), A("ICZZ", 2), A("GXO", 2), A("GYO", 2), A("GZO", 2), A("GXR", 2), A("GYR", 2), \
      A("GZR", 2), A("GS", 2), A("GXX", 2), A("GXY", 2), A("GXZ", 2), A("GYX", 2), A("GYY", 2),    \
      A("GYZ", 2), A("GZX", 2), A("GZY", 2), A("GZZ", 2)

constexpr Entry kRSMDCA[] = {A("IID", 80),           A("EDITION", 40),
                             A("TID", 40),           N("NPAR", 2),
                             N("NIMGE", 3),          N("NPART", 5),
                             Loop("IMAGE", "NIMGE"), A("IID", 80),
                             N("NPARI", 2),          End(),
                             KV_RSM_LOCAL_FRAME,     Triangle("DERCOV", "NPART"),
                             N("DERCOV", 21),        End()};

// Indirect error covariance: the parameter groups' covariances (packed), their
// correlation segments and the mapping matrix; then the unmodelled error.
constexpr Entry kRSMECA[] = {A("IID", 80),
                             A("EDITION", 40),
                             A("TID", 40),
                             A("INCLIC", 1),
                             A("INCLUC", 1),
                             If("INCLIC", "Y"),
                             N("NPAR", 2),
                             N("NPARO", 2),
                             N("IGN", 2),
                             A("CVDATE", 8),
                             KV_RSM_LOCAL_FRAME,
                             Loop("IG", "IGN"),
                             N("NUMOPG", 2),
                             Triangle("EG", "NUMOPG"),
                             N("ERRCVG", 21),
                             End(),
                             N("TCDF", 1),
                             N("NCSEG", 1),
                             Loop("CORSEG", "NCSEG"),
                             N("CORSEG", 21),
                             N("TAUSEG", 21),
                             End(),
                             End(),
                             Loop("MAP", "NPAR", "NPARO"),
                             N("MAP", 21),
                             End(),
                             End(),
                             If("INCLUC", "Y"),
                             N("URR", 21),
                             N("URC", 21),
                             N("UCC", 21),
                             N("UNCSR", 1),
                             Loop("CORSR", "UNCSR"),
                             N("UCORSR", 21),
                             N("UTAUSR", 21),
                             End(),
                             N("UNCSC", 1),
                             Loop("CORSC", "UNCSC"),
                             N("UCORSC", 21),
                             N("UTAUSC", 21),
                             End(),
                             End()};

constexpr Entry kRSMAPA[] = {
    A("IID", 80),       A("EDITION", 40),          A("TID", 40),    N("NPAR", 2),
    KV_RSM_LOCAL_FRAME, Loop("PARAMETER", "NPAR"), N("PARVAL", 21), End()};

#undef KV_RSM_LOCAL_FRAME

constexpr Entry kRSMPCA[] = {A("IID", 80),
                             A("EDITION", 40),
                             N("RSN", 3),
                             N("CSN", 3),
                             N("RFEP", 21),
                             N("CFEP", 21),
                             N("RNRMO", 21),
                             N("CNRMO", 21),
                             N("XNRMO", 21),
                             N("YNRMO", 21),
                             N("ZNRMO", 21),
                             N("RNRMSF", 21),
                             N("CNRMSF", 21),
                             N("XNRMSF", 21),
                             N("YNRMSF", 21),
                             N("ZNRMSF", 21),
                             N("RNPWRX", 1),
                             N("RNPWRY", 1),
                             N("RNPWRZ", 1),
                             N("RNTRMS", 3),
                             Loop("RNPCF", "RNTRMS"),
                             N("RNPCF", 21),
                             End(),
                             N("RDPWRX", 1),
                             N("RDPWRY", 1),
                             N("RDPWRZ", 1),
                             N("RDTRMS", 3),
                             Loop("RDPCF", "RDTRMS"),
                             N("RDPCF", 21),
                             End(),
                             N("CNPWRX", 1),
                             N("CNPWRY", 1),
                             N("CNPWRZ", 1),
                             N("CNTRMS", 3),
                             Loop("CNPCF", "CNTRMS"),
                             N("CNPCF", 21),
                             End(),
                             N("CDPWRX", 1),
                             N("CDPWRY", 1),
                             N("CDPWRZ", 1),
                             N("CDTRMS", 3),
                             Loop("CDPCF", "CDTRMS"),
                             N("CDPCF", 21),
                             End()};

constexpr Entry kRSMPIA[] = {
    A("IID", 80), A("EDITION", 40), N("R0", 21),   N("RX", 21),  N("RY", 21),  N("RZ", 21),
    N("RXX", 21), N("RXY", 21),     N("RXZ", 21),  N("RYY", 21), N("RYZ", 21), N("RZZ", 21),
    N("C0", 21),  N("CX", 21),      N("CY", 21),   N("CZ", 21),  N("CXX", 21), N("CXY", 21),
    N("CXZ", 21), N("CYY", 21),     N("CYZ", 21),  N("CZZ", 21), N("RNIS", 3), N("CNIS", 3),
    N("TNIS", 3), N("RSSIZ", 21),   N("CSSIZ", 21)};

constexpr Entry kRSMGIA[] = {
    A("IID", 80),  A("EDITION", 40), N("GR0", 21),   N("GRX", 21),  N("GRY", 21),  N("GRZ", 21),
    N("GRXX", 21), N("GRXY", 21),    N("GRXZ", 21),  N("GRYY", 21), N("GRYZ", 21), N("GRZZ", 21),
    N("GC0", 21),  N("GCX", 21),     N("GCY", 21),   N("GCZ", 21),  N("GCXX", 21), N("GCXY", 21),
    N("GCXZ", 21), N("GCYY", 21),    N("GCYZ", 21),  N("GCZZ", 21), N("GRNIS", 3), N("GCNIS", 3),
    N("GTNIS", 3), N("GRSSIZ", 21),  N("GCSSIZ", 21)};

// The sensor model of a set of DPPDB images: the transformation to and from the image's
// coordinates, as adjustment parameters and rational function coefficients.
constexpr Entry kIMASDA[] = {N("LONTR", 22), N("LATTR", 22), N("ELVTR", 22), N("LONSC", 22),
                             N("LATSC", 22), N("ELVSC", 22), N("XITR", 22),  N("YITR", 22),
                             N("XISC", 22),  N("YISC", 22),  N("DELEV", 22)};

constexpr Entry kIMRFCA[] = {
    Times("XINC", 20), N("XINC", 22), End(), Times("XIDC", 20), N("XIDC", 22), End(),
    Times("YINC", 20), N("YINC", 22), End(), Times("YIDC", 20), N("YIDC", 22), End()};

// The sensors behind a product: their footprints, bands, resolution, platform and
// attitude, and named auxiliary parameters (integer, real or text by APF).
constexpr Entry kSNSPSB[] = {N("NUM_SNS", 2),
                             Loop("SNS", "NUM_SNS"),
                             N("NUM_BP", 2),
                             Loop("BP", "NUM_BP"),
                             N("NUM_PTS", 3),
                             Loop("PTS", "NUM_PTS"),
                             N("LON", 15),
                             N("LAT", 15),
                             End(),
                             End(),
                             N("NUM_BND", 2),
                             Loop("BND", "NUM_BND"),
                             A("BID", 5),
                             N("WS1", 5),
                             N("WS2", 5),
                             End(),
                             A("UNIRES", 3),
                             N("REX", 6),
                             N("REY", 6),
                             N("GSX", 6),
                             N("GSY", 6),
                             A("GSL", 12),
                             A("PLTFM", 8),
                             A("INS", 8),
                             A("MOD", 4),
                             N("PRL", 5),
                             A("SID", 10),
                             A("ACT", 18),
                             A("UNINOA", 3),
                             N("NOA", 7),
                             A("UNIANG", 3),
                             N("ANG", 7),
                             A("UNIALT", 3),
                             N("ALT", 9),
                             N("LONSCC", 10),
                             N("LATSCC", 10),
                             A("UNISAE", 3),
                             N("SAZ", 7),
                             N("SEL", 7),
                             A("UNIRPY", 3),
                             N("ROL", 7),
                             N("PIT", 7),
                             N("YAW", 7),
                             A("UNIPXT", 3),
                             N("PXT", 14),
                             A("UNISPE", 7),
                             N("ROS", 22),
                             N("PIS", 22),
                             N("YAS", 22),
                             N("NUM_AUX", 3),
                             Loop("AUX", "NUM_AUX"),
                             A("API", 20),
                             A("APF", 1),
                             A("UNIAPX", 7),
                             If("APF", "I"),
                             N("APN", 10),
                             End(),
                             If("APF", "R"),
                             N("APR", 20),
                             End(),
                             If("APF", "A"),
                             A("APA", 20),
                             End(),
                             End(),
                             End()};

}  // namespace

const Description kGeoDescriptions[] = {
    {"ACCHZB", kACCHZB}, {"ACCPOB", kACCPOB}, {"ACCVTB", kACCVTB}, {"BNDPLB", kBNDPLB},
    {"CSCCGA", kCSCCGA}, {"CSCRNA", kCSCRNA}, {"GEOLOB", kGEOLOB}, {"GEOPSB", kGEOPSB},
    {"GRDPSB", kGRDPSB}, {"IMASDA", kIMASDA}, {"IMRFCA", kIMRFCA}, {"MAPLOB", kMAPLOB},
    {"PRJPSB", kPRJPSB}, {"REGPTB", kREGPTB}, {"RPC00A", kRPC},    {"RPC00B", kRPC},
    {"RPFHDR", kRPFHDR}, {"RSMAPA", kRSMAPA}, {"RSMDCA", kRSMDCA}, {"RSMECA", kRSMECA},
    {"RSMGIA", kRSMGIA}, {"RSMIDA", kRSMIDA}, {"RSMPCA", kRSMPCA}, {"RSMPIA", kRSMPIA},
    {"SNSPSB", kSNSPSB}};
const std::size_t kGeoDescriptionCount = std::size(kGeoDescriptions);

}  // namespace nitf::tre
