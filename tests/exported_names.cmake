# The six functions the library exports, and nothing else (sorted).
set(DVKC_EXPORTED_NAMES bin2hex iMake_DVKReqPKT iMake_DVKRequestPKT iParse_DVKResponsePKT iSSL_SendThenRecv vFreeData)
