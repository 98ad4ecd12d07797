#include "engine/LogText.h"

const char* const kLogWriteFailed = "下发数据失败，数据大小{}，剩余重试{}";
const char* const kLogReadFailed = "无法读取主机响应，剩余重试{}";
const char* const kLogWrongAnswer = "应答错误:{},剩余重试{}";

const char* const kLogLineEnd = "\n";
