#include "Functions_Results.h"

const char *pcVerdict_Name(const eVerdict eValue)
{
    switch (eValue) {
    case eVerdict_None:
        return "none";
    case eVerdict_Intact:
        return "intact";
    case eVerdict_Data_Missing:
        return "data_missing";
    case eVerdict_Data_Changed:
        return "data_changed";
    case eVerdict_Damaged:
        return "damaged";
    case eVerdict_Keeps_Recent:
        return "keeps_recent";
    case eVerdict_Write_Failed:
        return "write_failed";
    case eVerdict_Capacity_Limited:
        return "capacity_limited";
    case eVerdict_Wraparound:
        return "wraparound";
    case eVerdict_No_Plaintext:
        return "no_plaintext";
    case eVerdict_Not_On_Device:
        return "not_on_device";
    case eVerdict_Incomplete:
        return "incomplete";
    case eVerdict_Remnants:
        return "remnants";
    case eVerdict_Clean:
        return "clean";
    }
    return "";
}

bool bVerdict_Good(const eVerdict eValue)
{
    return eValue == eVerdict_Intact || eValue == eVerdict_Clean;
}

const char *pcRead_Status_Name(const eRead_Status eStatus)
{
    switch (eStatus) {
    case eRead_Not_Run:
        return "not_run";
    case eRead_No_Poll:
        return "no_poll";
    case eRead_Done:
        return "done";
    case eRead_Cancelled:
        return "cancelled";
    case eRead_Open_Failed:
        return "open_failed";
    case eRead_Not_Device:
        return "not_a_device";
    case eRead_Alloc_Failed:
        return "alloc_failed";
    case eRead_Shrunk:
        return "device_shrank";
    case eRead_Volume_Changed:
        return "volume_changed";
    case eRead_Fill_Unwritten:
        return "fill_not_on_device";
    }
    return "";
}

bool bRead_Scanned(const eRead_Status eStatus)
{
    return eStatus == eRead_Done || eStatus == eRead_Cancelled || eStatus == eRead_Shrunk;
}

bool bRead_Whole(const cRead_Result &oResult)
{
    return oResult.eStatus == eRead_Done && !oResult.bAbandoned;
}

const char *pcPlacement_Source_Name(const ePlacement_Source eSource)
{
    switch (eSource) {
    case ePlacement_Fiemap:
        return "fiemap";
    case ePlacement_Tsk:
        return "tsk";
    case ePlacement_Btrfs_Chunks:
        return "btrfs_chunks";
    case ePlacement_Found_Words:
        return "found_words";
    case ePlacement_None:
        break;
    }
    return "";
}
