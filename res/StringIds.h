#pragma once

// Numbers of the program's texts in the string table (res/StringTable.cpp).
// Log lines and messages are addressed by these names only.

inline constexpr unsigned IDS_ABOUTBOX = 101;
inline constexpr unsigned IDS_LOAD_PROMPT = 102;
inline constexpr unsigned IDS_SAVE_PROMPT = 103;
inline constexpr unsigned IDS_LOG_FIND_SOI = 104;
inline constexpr unsigned IDS_LOG_FIND_DRI = 105;
inline constexpr unsigned IDS_LOG_FIND_SOS = 106;
inline constexpr unsigned IDS_LOG_FIND_DHT = 107;
inline constexpr unsigned IDS_LOG_FIND_DQT = 108;
inline constexpr unsigned IDS_LOG_FIND_SOF = 109;
inline constexpr unsigned IDS_LOG_READ_SECRET_START = 111;
inline constexpr unsigned IDS_LOG_YUV_TO_RGB = 112;
inline constexpr unsigned IDS_LOG_READ_SECRET_END = 113;
inline constexpr unsigned IDS_LOG_INIT_HUFFMAN = 114;
inline constexpr unsigned IDS_LOG_PUT_SOI = 115;
inline constexpr unsigned IDS_LOG_PUT_DQT = 116;
inline constexpr unsigned IDS_LOG_PUT_DHT = 117;
inline constexpr unsigned IDS_LOG_PUT_SOF = 118;
inline constexpr unsigned IDS_LOG_PUT_SOS = 119;
inline constexpr unsigned IDS_LOG_RGB_TO_YUV = 120;
inline constexpr unsigned IDS_LOG_LEVEL_SHIFT = 121;
inline constexpr unsigned IDS_LOG_DCT_QUANTIZE = 122;
inline constexpr unsigned IDS_LOG_HUFFMAN_ENCODE = 123;
inline constexpr unsigned IDS_LOG_ENCODE_DONE = 124;
inline constexpr unsigned IDS_LOG_READ_BMP_SECRET = 125;
inline constexpr unsigned IDS_LOG_SAVE_BMP_SECRET = 126;
inline constexpr unsigned IDS_LOG_GENERATE_KEY = 127;
inline constexpr unsigned IDS_LOG_DECRYPT_START = 128;
inline constexpr unsigned IDS_LOG_DECRYPT_END = 129;
inline constexpr unsigned IDS_LOG_ENCRYPT_START = 130;
inline constexpr unsigned IDS_LOG_ENCRYPT_END = 131;
inline constexpr unsigned IDS_NO_RECEIVER = 133;
inline constexpr unsigned IDS_NO_SUBJECT = 134;
inline constexpr unsigned IDS_NO_MESSAGE = 135;
inline constexpr unsigned IDS_MAIL_SENT = 136;
inline constexpr unsigned IDS_SAVE_OPTION_ERROR = 137;
inline constexpr unsigned IDS_SAVE_FINISHED = 138;
inline constexpr unsigned IDS_WRONG_PASSWORD = 139;
inline constexpr unsigned IDS_FILE_OPEN_ERROR = 140;
inline constexpr unsigned IDS_ALREADY_OPENED = 142;
inline constexpr unsigned IDS_REALLY_EXIT = 143;
inline constexpr unsigned IDS_NOT_BMP_FILE = 144;
inline constexpr unsigned IDS_CONNECT_FAILED = 146;
inline constexpr unsigned IDS_ENCODING_ATTACHMENT = 147;

// The download phases 1 to 25 of the update check, at this base plus the phase.
inline constexpr unsigned IDS_DOWNLOAD_STATUS_BASE = 155;

inline constexpr unsigned IDS_RECEIVE_CANCELED = 181;
inline constexpr unsigned IDS_CURRENT_VERSION = 182;
inline constexpr unsigned IDS_VERSION_UNREADABLE = 183;
inline constexpr unsigned IDS_RECEIVED = 184;
inline constexpr unsigned IDS_RECEIVE_FAILED = 185;
inline constexpr unsigned IDS_WRONG_URL = 186;
inline constexpr unsigned IDS_NO_THREAD = 187;
inline constexpr unsigned IDS_LATEST_VERSION = 188;
inline constexpr unsigned IDS_STARTING_UPDATE = 189;
inline constexpr unsigned IDS_UP_TO_DATE = 190;
inline constexpr unsigned IDS_SEPARATOR = 191;
inline constexpr unsigned IDS_PATCH_FOUND = 192;
inline constexpr unsigned IDS_PATCH_NOT_FOUND = 193;
inline constexpr unsigned IDS_REASON = 194;
inline constexpr unsigned IDS_CONFIRM_PATCH = 195;
inline constexpr unsigned IDS_PATCH_NOT_STARTED = 196;
inline constexpr unsigned IDS_PATCH_START_FAILED = 197;
inline constexpr unsigned IDS_PATCH_REFUSED = 198;
inline constexpr unsigned IDS_VERSION_FILE_UNREADABLE = 199;
inline constexpr unsigned IDS_PATCH_LIST_UNREADABLE = 200;
inline constexpr unsigned IDS_PATCH_REDIRECTED = 201;
inline constexpr unsigned IDS_PATCH_UNVOUCHED = 202;
inline constexpr unsigned IDS_ASK_START_PATCH = 203;
inline constexpr unsigned IDS_CLOSE = 700;
inline constexpr unsigned IDS_UNSUPPORTED_FILE = 701;
inline constexpr unsigned IDS_SAVE_FAILED = 702;
inline constexpr unsigned IDS_PAGE_NOT_WRITTEN = 703;
inline constexpr unsigned IDS_SENDER_BREAKS_LINE = 730;
inline constexpr unsigned IDS_RECEIVER_BREAKS_LINE = 731;
inline constexpr unsigned IDS_SUBJECT_BREAKS_LINE = 732;
inline constexpr unsigned IDS_SENDER_UNCLOSED = 733;
inline constexpr unsigned IDS_RECEIVER_UNCLOSED = 734;
inline constexpr unsigned IDS_SEND_CANCELLED = 735;
inline constexpr unsigned IDS_RECEIVERS_REFUSED = 736;
