// Descriptions of the TREs that say how, when and by what an image was taken: mission
// and acquisition identification, sensor and exploitation support, product history.
// Field names and widths follow the published TRE definitions; reserved fields keep
// their place so that every byte has a field.
#include "tre/dictionary.h"

namespace nitf::tre {
namespace {

using K = Kind;

constexpr Entry kACFTA[] = {A("AC_MSN_ID", 10),   A("SCTYPE", 1),    A("SCNUM", 4),
                            A("SENSOR_ID", 3),    N("PATCH_TOT", 4), N("MTI_TOT", 3),
                            A("PDATE", 7),        N("IMHOSTNO", 3),  N("IMREQID", 5),
                            N("SCENE_SOURCE", 1), N("MPLAN", 2),     A("ENTLOC", 21),
                            A("ENTALT", 6),       A("EXITLOC", 21),  A("EXITALT", 6),
                            A("TMAP", 7),         A("RCS", 3),       A("ROW_SPACING", 7),
                            A("COL_SPACING", 7),  A("SENSERIAL", 4), A("ABSWVER", 7)};

// Country codes: each code and its details, the details only when their length is not 0.
constexpr Entry kCCINFA[] = {N("NUMCODE", 3),
                             Loop("CODE", "NUMCODE"),
                             N("CODE_LEN", 1),
                             Var("CODE", K::kA, "CODE_LEN"),
                             A("EQTYPE", 1),
                             N("ESURN_LEN", 2),
                             Var("ESURN", K::kA, "ESURN_LEN"),
                             N("DETAIL_LEN", 5),
                             IfNot("DETAIL_LEN", "00000"),
                             A("DETAIL_CMPR", 1),
                             Var("DETAIL", K::kA, "DETAIL_LEN"),
                             End(),
                             End()};

constexpr Entry kACFTB[] = {A("AC_MSN_ID", 20),   A("AC_TAIL_NO", 10),
                            A("AC_TO", 12),       A("SENSOR_ID_TYPE", 4),
                            A("SENSOR_ID", 6),    N("SCENE_SOURCE", 1),
                            N("SCNUM", 6),        N("PDATE", 8),
                            N("IMHOSTNO", 6),     N("IMREQID", 5),
                            N("MPLAN", 3),        A("ENTLOC", 25),
                            N("LOC_ACCY", 6),     A("ENTELV", 6),
                            A("ELV_UNIT", 1),     A("EXITLOC", 25),
                            A("EXITELV", 6),      N("TMAP", 7),
                            N("ROW_SPACING", 7),  A("ROW_SPACING_UNITS", 1),
                            N("COL_SPACING", 7),  A("COL_SPACING_UNITS", 1),
                            N("FOCAL_LENGTH", 6), A("SENSERIAL", 6),
                            A("ABSWVER", 7),      N("CAL_DATE", 8),
                            N("PATCH_TOT", 4),    N("MTI_TOT", 3)};

constexpr Entry kAIMIDA[] = {A("MISSION_DATE", 7), A("MISSION_NO", 4),    N("FLIGHT_NO", 2),
                             N("OP_NUM", 3),       A("START_SEGMENT", 2), N("REPRO_NUM", 2),
                             A("REPLAY", 3),       A("RESVD001", 1),      N("START_COLUMN", 2),
                             N("START_ROW", 5),    A("END_SEGMENT", 2),   N("END_COLUMN", 2),
                             N("END_ROW", 5),      A("COUNTRY", 2),       A("RESVD002", 4),
                             A("LOCATION", 11),    A("TIME", 5),          A("CREATION_DATE", 7)};

constexpr Entry kAIMIDB[] = {
    N("ACQUISITION_DATE", 14), A("MISSION_NO", 4),     A("MISSION_IDENTIFICATION", 10),
    N("FLIGHT_NO", 2),         N("OP_NUM", 3),         A("CURRENT_SEGMENT", 2),
    N("REPRO_NUM", 2),         A("REPLAY", 3),         A("RESERVED_1", 1),
    N("START_TILE_COLUMN", 3), N("START_TILE_ROW", 5), A("END_SEGMENT", 2),
    N("END_TILE_COLUMN", 3),   N("END_TILE_ROW", 5),   A("COUNTRY", 2),
    A("RESERVED_2", 4),        A("LOCATION", 11),      A("RESERVED_3", 13)};

constexpr Entry kBANDSA[] = {N("ROW_SPACING", 7),
                             A("ROW_SPACING_UNITS", 1),
                             N("COL_SPACING", 7),
                             A("COL_SPACING_UNITS", 1),
                             N("FOCAL_LENGTH", 6),
                             N("BANDCOUNT", 4),
                             Loop("BAND", "BANDCOUNT"),
                             N("BANDPEAK", 5),
                             N("BANDLBOUND", 5),
                             N("BANDUBOUND", 5),
                             N("BANDWIDTH", 5),
                             N("BANDCALDRK", 6),
                             N("BANDCALINC", 5),
                             N("BANDRESP", 5),
                             N("BANDASD", 5),
                             N("BANDGSD", 5),
                             End()};

constexpr Entry kBLOCKA[] = {N("BLOCK_INSTANCE", 2), N("N_GRAY", 5),       N("L_LINES", 5),
                             N("LAYOVER_ANGLE", 3),  N("SHADOW_ANGLE", 3), A("RESERVED_001", 16),
                             A("FRLC_LOC", 21),      A("LRLC_LOC", 21),    A("LRFC_LOC", 21),
                             A("FRFC_LOC", 21),      A("RESERVED_002", 5)};

constexpr Entry kCSATTA[] = {A("ATT_TYPE", 12),
                             A("DT_ATT", 14),
                             N("DATE_ATT", 8),
                             N("T0_ATT", 13),
                             N("NUM_ATT", 5),
                             Loop("ATT", "NUM_ATT"),
                             N("ATT_Q1", 18),
                             N("ATT_Q2", 18),
                             N("ATT_Q3", 18),
                             N("ATT_Q4", 18),
                             End()};

constexpr Entry kCSDIDA[] = {N("DAY", 2),
                             A("MONTH", 3),
                             N("YEAR", 4),
                             A("PLATFORM_CODE", 2),
                             N("VEHICLE_ID", 2),
                             N("PASS", 2),
                             N("OPERATION", 3),
                             A("SENSOR_ID", 2),
                             A("PRODUCT_ID", 2),
                             A("RESERVED_0", 4),
                             N("TIME", 14),
                             N("PROCESS_TIME", 14),
                             N("RESERVED_1", 2),
                             N("RESERVED_2", 2),
                             A("RESERVED_3", 1),
                             A("RESERVED_4", 1),
                             A("SOFTWARE_VERSION_NUMBER", 10)};

constexpr Entry kCSEPHA[] = {A("EPHEM_FLAG", 12), N("DT_EPHEM", 5),
                             N("DATE_EPHEM", 8),  N("T0_EPHEM", 13),
                             N("NUM_EPHEM", 3),   Loop("EPHEM", "NUM_EPHEM"),
                             N("X", 12),          N("Y", 12),
                             N("Z", 12),          End()};

constexpr Entry kCSEXRA[] = {A("SENSOR", 6),
                             N("TIME_FIRST_LINE_IMAGE", 12),
                             N("TIME_IMAGE_DURATION", 12),
                             N("MAX_GSD", 5),
                             A("ALONG_SCAN_GSD", 5),
                             A("CROSS_SCAN_GSD", 5),
                             A("GEO_MEAN_GSD", 5),
                             A("A_S_VERT_GSD", 5),
                             A("C_S_VERT_GSD", 5),
                             A("GEO_MEAN_VERT_GSD", 5),
                             A("GSD_BETA_ANGLE", 5),
                             N("DYNAMIC_RANGE", 5),
                             N("NUM_LINES", 7),
                             N("NUM_SAMPLES", 5),
                             N("ANGLE_TO_NORTH", 7),
                             N("OBLIQUITY_ANGLE", 6),
                             N("AZ_OF_OBLIQUITY", 7),
                             N("GRD_COVER", 1),
                             N("SNOW_DEPTH_CAT", 1),
                             N("SUN_AZIMUTH", 7),
                             N("SUN_ELEVATION", 7),
                             A("PREDICTED_NIIRS", 3),
                             N("CIRCL_ERR", 3),
                             N("LINEAR_ERR", 3)};

// The frame and scan timing groups that SENSOR_TYPE F and S bring are not described:
// such a CSEXRB is kept raw and reported.
constexpr Entry kCSEXRB[] = {A("IMAGE_UUID", 36),
                             N("NUM_ASSOC_DES", 3),
                             Loop("ASSOC_DES", "NUM_ASSOC_DES"),
                             A("ASSOC_DES_ID", 36),
                             End(),
                             A("PLATFORM_ID", 6),
                             A("PAYLOAD_ID", 6),
                             A("SENSOR_ID", 6),
                             A("SENSOR_TYPE", 1),
                             N("GROUND_REF_POINT_X", 12),
                             N("GROUND_REF_POINT_Y", 12),
                             N("GROUND_REF_POINT_Z", 12),
                             N("MAX_GSD", 12),
                             N("ALONG_SCAN_GSD", 12),
                             N("CROSS_SCAN_GSD", 12),
                             N("GEO_MEAN_GSD", 12),
                             N("A_S_VERT_GSD", 12),
                             N("C_S_VERT_GSD", 12),
                             N("GEO_MEAN_VERT_GSD", 12),
                             N("GSD_BETA_ANGLE", 5),
                             N("DYNAMIC_RANGE", 5),
                             N("NUM_LINES", 7),
                             N("NUM_SAMPLES", 5),
                             N("ANGLE_TO_NORTH", 7),
                             N("OBLIQUITY_ANGLE", 6),
                             N("AZ_OF_OBLIQUITY", 7),
                             N("ATM_REFR_FLAG", 1),
                             N("VEL_ABER_FLAG", 1),
                             N("GRD_COVER", 1),
                             N("SNOW_DEPTH_CATEGORY", 1),
                             N("SUN_AZIMUTH", 7),
                             N("SUN_ELEVATION", 7),
                             A("PREDICTED_NIIRS", 3),
                             N("CIRCL_ERR", 5),
                             N("LINEAR_ERR", 5),
                             N("CLOUD_COVER", 3),
                             N("UE_TIME_FLAG", 1),
                             N("RESERVED_LEN", 5),
                             Var("RESERVED", K::kA, "RESERVED_LEN")};

constexpr Entry kCSPROA[] = {A("RESERVED_0", 12), A("RESERVED_1", 12), A("RESERVED_2", 12),
                             A("RESERVED_3", 12), A("RESERVED_4", 12), A("RESERVED_5", 12),
                             A("RESERVED_6", 12), A("RESERVED_7", 12), A("RESERVED_8", 12),
                             A("BWC", 12)};

constexpr Entry kCSSFAA[] = {
    N("NUM_BANDS", 1),   Loop("BAND", "NUM_BANDS"), A("BAND_TYPE", 1), A("BAND_ID", 6),
    N("FOC_LENGTH", 11), N("NUM_DAP", 8),           N("NUM_FIR", 8),   N("DELTA", 7),
    N("OPPOFF_X", 7),    N("OPPOFF_Y", 7),          N("OPPOFF_Z", 7),  N("START_X", 11),
    N("START_Y", 11),    N("FINISH_X", 11),         N("FINISH_Y", 11), End()};

constexpr Entry kENGRDA[] = {A("RESRC", 20), N("RECNT", 3), Loop("RECORDS", "RECNT"), N("ENGLN", 2),
                             Var("ENGLBL", K::kA, "ENGLN"), N("ENGMTXC", 4), N("ENGMTXR", 4),
                             A("ENGTYP", 1), N("ENGDTS", 1), A("ENGDTU", 2), N("ENGDATC", 8),
                             // ENGDATC values of ENGDTS bytes each: characters when ENGTYP is A.
                             If("ENGTYP", "A"), VarProduct("ENGDATA", K::kA, "ENGDATC", "ENGDTS"),
                             End(), IfNot("ENGTYP", "A"),
                             VarProduct("ENGDATA", K::kB, "ENGDATC", "ENGDTS"), End(), End()};

constexpr Entry kEXOPTA[] = {N("ANGLETONORTH", 3), N("MEANGSD", 5),  A("RESERV01", 1),
                             N("DYNAMICRANGE", 5), A("RESERV02", 7), N("OBLANG", 5),
                             N("ROLLANG", 6),      A("PRIMEID", 12), A("PRIMEBE", 15),
                             A("RESERV03", 5),     N("NSEC", 3),     A("RESERV04", 2),
                             A("RESERV05", 7),     N("NSEG", 3),     N("MAXLPSEG", 6),
                             A("RESERV06", 12),    N("SUNEL", 5),    N("SUNAZ", 5)};

constexpr Entry kEXPLTA[] = {
    N("ANGLE_TO_NORTH", 3), N("SQUINT_ANGLE", 3), A("MODE", 3),      A("RESVD001", 16),
    N("GRAZE_ANG", 2),      N("SLOPE_ANG", 2),    A("POLAR", 2),     N("NSAMP", 5),
    A("RESVD002", 1),       N("SEQ_NUM", 1),      A("PRIME_ID", 12), A("PRIME_BE", 15),
    A("RESVD003", 1),       N("N_SEC", 2),        N("IPR", 2),       N("RESVD004", 2),
    N("RESVD005", 2),       A("RESVD006", 5),     A("RESVD007", 8)};

constexpr Entry kEXPLTB[] = {N("ANGLE_TO_NORTH", 7), N("ANGLE_TO_NORTH_ACCY", 6),
                             N("SQUINT_ANGLE", 7),   N("SQUINT_ANGLE_ACCY", 6),
                             A("MODE", 3),           A("RESVD001", 16),
                             N("GRAZE_ANG", 5),      N("GRAZE_ANG_ACCY", 5),
                             N("SLOPE_ANG", 5),      A("POLAR", 2),
                             N("NSAMP", 5),          A("RESVD002", 1),
                             N("SEQ_NUM", 1),        A("PRIME_ID", 12),
                             A("PRIME_BE", 15),      A("RESVD003", 1),
                             N("N_SEC", 2),          N("IPR", 2)};

constexpr Entry kHISTOA[] = {A("SYSTYPE", 20),
                             A("PC", 12),
                             A("PE", 4),
                             A("REMAP_FLAG", 1),
                             N("LUTID", 2),
                             N("NEVENTS", 2),
                             Loop("EVENT", "NEVENTS"),
                             N("PDATE", 14),
                             A("PSITE", 10),
                             A("PAS", 10),
                             N("NIPCOM", 1),
                             Loop("IPCOM", "NIPCOM"),
                             A("IPCOM", 80),
                             End(),
                             N("IBPP", 2),
                             A("IPVTYPE", 3),
                             A("INBWC", 10),
                             A("DISP_FLAG", 1),
                             N("ROT_FLAG", 1),
                             If("ROT_FLAG", "1"),
                             N("ROT_ANGLE", 8),
                             End(),
                             A("ASYM_FLAG", 1),
                             If("ASYM_FLAG", "1"),
                             N("ZOOMROW", 7),
                             N("ZOOMCOL", 7),
                             End(),
                             A("PROJ_FLAG", 1),
                             N("SHARP_FLAG", 1),
                             If("SHARP_FLAG", "1"),
                             N("SHARPFAM", 2),
                             N("SHARPMEM", 2),
                             End(),
                             N("MAG_FLAG", 1),
                             If("MAG_FLAG", "1"),
                             N("MAG_LEVEL", 7),
                             End(),
                             N("DRA_FLAG", 1),
                             If("DRA_FLAG", "1"),
                             N("DRA_MULT", 7),
                             N("DRA_SUB", 5),
                             End(),
                             N("TTC_FLAG", 1),
                             If("TTC_FLAG", "1"),
                             N("TTCFAM", 2),
                             N("TTCMEM", 2),
                             End(),
                             N("DEVLUT_FLAG", 1),
                             N("OBPP", 2),
                             A("OPVTYPE", 3),
                             A("OUTBWC", 10),
                             End()};

constexpr Entry kICHIPB[] = {
    N("XFRM_FLAG", 2),  N("SCALE_FACTOR", 10), N("ANAMRPH_CORR", 2), N("SCANBLK_NUM", 2),
    N("OP_ROW_11", 12), N("OP_COL_11", 12),    N("OP_ROW_12", 12),   N("OP_COL_12", 12),
    N("OP_ROW_21", 12), N("OP_COL_21", 12),    N("OP_ROW_22", 12),   N("OP_COL_22", 12),
    N("FI_ROW_11", 12), N("FI_COL_11", 12),    N("FI_ROW_12", 12),   N("FI_COL_12", 12),
    N("FI_ROW_21", 12), N("FI_COL_21", 12),    N("FI_ROW_22", 12),   N("FI_COL_22", 12),
    N("FI_ROW", 8),     N("FI_COL", 8)};

// The input fields follow only when the stream was parsed (odd ORIG).
constexpr Entry kJ2KLRA[] = {N("ORIG", 1),
                             N("NLEVELS_O", 2),
                             N("NBANDS_O", 5),
                             N("NLAYERS_O", 3),
                             Loop("LAYER", "NLAYERS_O"),
                             N("LAYER_ID", 3),
                             N("BITRATE", 9),
                             End(),
                             If("ORIG", "1|3|5|7|9"),
                             N("NLEVELS_I", 2),
                             N("NBANDS_I", 5),
                             N("NLAYERS_I", 3),
                             End()};

constexpr Entry kMENSRB[] = {A("ACFT_LOC", 25),
                             N("ACFT_LOC_ACCY", 6),
                             N("ACFT_ALT", 6),
                             A("RP_LOC", 25),
                             N("RP_LOC_ACCY", 6),
                             N("RP_ELV", 6),
                             N("OF_PC_R", 7),
                             N("OF_PC_A", 7),
                             N("COSGRZ", 7),
                             N("RGCRP", 7),
                             A("RLMAP", 1),
                             N("RP_ROW", 5),
                             N("RP_COL", 5),
                             N("C_R_NC", 10),
                             N("C_R_EC", 10),
                             N("C_R_DC", 10),
                             N("C_AZ_NC", 9),
                             N("C_AZ_EC", 9),
                             N("C_AZ_DC", 9),
                             N("C_AL_NC", 9),
                             N("C_AL_EC", 9),
                             N("C_AL_DC", 9),
                             N("TOTAL_TILES_COLS", 3),
                             N("TOTAL_TILES_ROWS", 5)};

constexpr Entry kMSTGTA[] = {
    N("TGT_NUM", 5),    A("TGT_ID", 12),       A("TGT_BE", 15),  A("TGT_PRI", 3), A("TGT_REQ", 12),
    A("TGT_LTIOV", 12), A("TGT_TYPE", 1),      A("TGT_COLL", 1), A("TGT_CAT", 5), A("TGT_UTC", 7),
    A("TGT_ELEV", 6),   A("TGT_ELEV_UNIT", 1), A("TGT_LOC", 21)};

constexpr Entry kMTIRPB[] = {N("MTI_DP", 2),
                             N("MTI_PACKET_ID", 3),
                             N("PATCH_NO", 4),
                             N("WAMTI_FRAME_NO", 5),
                             N("WAMTI_BAR_NO", 1),
                             N("DATIME", 14),
                             A("ACFT_LOC", 21),
                             N("ACFT_ALT", 6),
                             A("ACFT_ALT_UNIT", 1),
                             N("ACFT_HEADING", 3),
                             A("MTI_LR", 1),
                             N("SQUINT_ANGLE", 6),
                             N("COSGRZ", 7),
                             N("NO_VALID_TARGETS", 3),
                             Loop("TARGET", "NO_VALID_TARGETS"),
                             A("TGT_LOC", 23),
                             A("TGT_LOC_ACCY", 6),
                             A("TGT_VEL_R", 4),
                             A("TGT_SPEED", 3),
                             A("TGT_HEADING", 3),
                             A("TGT_AMPLITUDE", 2),
                             A("TGT_CAT", 1),
                             End()};

constexpr Entry kPIAEQA[] = {A("EQPCODE", 7), A("EQPNOMEN", 45), A("EQPMAN", 64), A("OBTYPE", 1),
                             A("ORDBAT", 3),  A("CTRYPROD", 2),  A("CTRYDSN", 2), A("OBJVIEW", 6)};

constexpr Entry kMATESA[] = {A("CUR_SOURCE", 42),
                             A("CUR_MATE_TYPE", 16),
                             N("CUR_FILE_ID_LEN", 4),
                             Var("CUR_FILE_ID", K::kA, "CUR_FILE_ID_LEN"),
                             N("NUM_GROUPS", 4),
                             Loop("GROUP", "NUM_GROUPS"),
                             A("RELATIONSHIP", 24),
                             N("NUM_MATES", 4),
                             Loop("MATE", "NUM_MATES"),
                             A("SOURCE", 42),
                             A("MATE_TYPE", 16),
                             N("MATE_ID_LEN", 4),
                             Var("MATE_ID", K::kA, "MATE_ID_LEN"),
                             End(),
                             End()};

constexpr Entry kPIAIMB[] = {
    N("CLOUDCVR", 3),   A("SRP", 1),     A("SENSMODE", 12), A("SENSNAME", 18), A("SOURCE", 255),
    N("COMGEN", 2),     A("SUBQUAL", 1), A("PIAMSNNUM", 7), A("CAMSPECS", 32), A("PROJID", 2),
    N("GENERATION", 1), A("ESD", 1),     A("OTHERCOND", 2)};

constexpr Entry kPIAIMC[] = {
    N("CLOUDCVR", 3),   A("SRP", 1),     A("SENSMODE", 12), A("SENSNAME", 18), A("SOURCE", 255),
    N("COMGEN", 2),     A("SUBQUAL", 1), A("PIAMSNNUM", 7), A("CAMSPECS", 32), A("PROJID", 2),
    N("GENERATION", 1), A("ESD", 1),     A("OTHERCOND", 2), N("MEANGSD", 7),   A("IDATUM", 3),
    A("IELLIP", 3),     A("PREPROC", 2), A("IPROJ", 2),     N("SATTRACK", 8)};

constexpr Entry kPIAPEA[] = {A("LASTNME", 28), A("FIRSTNME", 28), A("MIDNME", 28), A("DOB", 6),
                             A("ASSOCTRY", 2)};

constexpr Entry kPIAPEB[] = {A("LASTNME", 28), A("FIRSTNME", 28), A("MIDNME", 28), A("DOB", 8),
                             A("ASSOCTRY", 2)};

constexpr Entry kPIAPRD[] = {A("ACCESSID", 64),   A("FMCONTROL", 32),
                             A("SUBDET", 1),      A("PRODCODE", 2),
                             A("PRODUCERSE", 6),  A("PRODIDNO", 20),
                             A("PRODSNME", 10),   A("PRODUCERCD", 2),
                             A("PRODCRTIME", 14), A("MAPID", 40),
                             N("SECTITLEREP", 2), Loop("SECTITLE", "SECTITLEREP"),
                             A("SECTITLE", 40),   A("PPNUM", 5),
                             N("TPP", 3),         End(),
                             N("REQORGREP", 2),   Loop("REQORG", "REQORGREP"),
                             A("REQORG", 64),     End(),
                             N("KEYWORDREP", 2),  Loop("KEYWORD", "KEYWORDREP"),
                             A("KEYWORD", 255),   End(),
                             N("ASSRPTREP", 2),   Loop("ASSRPT", "ASSRPTREP"),
                             A("ASSRPT", 20),     End(),
                             N("ATEXTREP", 2),    Loop("ATEXT", "ATEXTREP"),
                             A("ATEXT", 255),     End()};

constexpr Entry kPIATGB[] = {A("TGTUTM", 15), A("PIATGAID", 15), A("PIACTRY", 2),  A("PIACAT", 5),
                             A("TGTGEO", 15), A("DATUM", 3),     A("TGTNAME", 38), N("PERCOVER", 3),
                             N("TGTLAT", 10), N("TGTLON", 11)};

constexpr Entry kSECTGA[] = {A("SEC_ID", 12), A("SEC_BE", 15), A("RESVD001", 1)};

constexpr Entry kSTDIDC[] = {
    A("ACQUISITION_DATE", 14), A("MISSION", 14),  A("PASS", 2),         N("OP_NUM", 3),
    A("START_SEGMENT", 2),     N("REPRO_NUM", 2), A("REPLAY_REGEN", 3), A("BLANK_FILL", 1),
    N("START_COLUMN", 3),      N("START_ROW", 5), A("END_SEGMENT", 2),  N("END_COLUMN", 3),
    N("END_ROW", 5),           A("COUNTRY", 2),   A("WAC", 4),          A("LOCATION", 11),
    A("RESERVED2", 5),         A("RESERVED3", 8)};

constexpr Entry kSTREOB[] = {A("ST_ID", 60), A("N_MATES", 1), A("MATE_INSTANCE", 1),
                             A("B_CONV", 5), A("E_CONV", 5),  A("B_ASYM", 5),
                             A("E_ASYM", 5), A("B_BIE", 6),   A("E_BIE", 6)};

constexpr Entry kUSE00A[] = {
    N("ANGLE_TO_NORTH", 3), N("MEAN_GSD", 5), A("RSRVD01", 1),  N("DYNAMIC_RANGE", 5),
    A("RSRVD02", 3),        A("RSRVD03", 1),  A("RSRVD04", 3),  N("OBL_ANG", 5),
    N("ROLL_ANG", 6),       A("RSRVD05", 12), A("RSRVD06", 15), A("RSRVD07", 4),
    A("RSRVD08", 1),        A("RSRVD09", 3),  A("RSRVD10", 1),  A("RSRVD11", 1),
    N("N_REF", 2),          N("REV_NUM", 5),  N("N_SEG", 3),    N("MAX_LP_SEG", 6),
    A("RSRVD12", 6),        A("RSRVD13", 6),  N("SUN_EL", 5),   N("SUN_AZ", 5)};

}  // namespace

const Description kSensorDescriptions[] = {
    {"ACFTA", kACFTA},   {"CCINFA", kCCINFA}, {"ACFTB", kACFTB},   {"AIMIDA", kAIMIDA},
    {"AIMIDB", kAIMIDB}, {"BANDSA", kBANDSA}, {"BLOCKA", kBLOCKA}, {"CSATTA", kCSATTA},
    {"CSDIDA", kCSDIDA}, {"CSEPHA", kCSEPHA}, {"CSEXRA", kCSEXRA}, {"CSEXRB", kCSEXRB},
    {"CSPROA", kCSPROA}, {"CSSFAA", kCSSFAA}, {"ENGRDA", kENGRDA}, {"EXOPTA", kEXOPTA},
    {"EXPLTA", kEXPLTA}, {"EXPLTB", kEXPLTB}, {"HISTOA", kHISTOA}, {"ICHIPB", kICHIPB},
    {"J2KLRA", kJ2KLRA}, {"MENSRB", kMENSRB}, {"MSTGTA", kMSTGTA}, {"MTIRPB", kMTIRPB},
    {"MATESA", kMATESA}, {"PIAEQA", kPIAEQA}, {"PIAIMB", kPIAIMB}, {"PIAIMC", kPIAIMC},
    {"PIAPEA", kPIAPEA}, {"PIAPEB", kPIAPEB}, {"PIAPRD", kPIAPRD}, {"PIATGB", kPIATGB},
    {"SECTGA", kSECTGA}, {"STDIDC", kSTDIDC}, {"STREOB", kSTREOB}, {"USE00A", kUSE00A}};
const std::size_t kSensorDescriptionCount = std::size(kSensorDescriptions);

}  // namespace nitf::tre
