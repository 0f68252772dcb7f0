#ifndef FUNCTIONS_REPORT_TEXTS_H
#define FUNCTIONS_REPORT_TEXTS_H

#include <QString>

// The sentences the probes and the steps put into their results and questions, with the parts
// that vary as arguments. Plain values only, no records: every engine file may include this
// one without the report's headers coming along.

// The fill refused a volume not known to lie on the polled device; qsWhy: why not known.
QString qsFill_Refused_Text(const QString &qsVolume_Dir, const QString &qsWhy);
// The same, as the question whether to fill it all the same.
QString qsFill_Refused_Question(const QString &qsVolume_Dir, const QString &qsWhy);

// The headings of the boxes the probes and the runner open, and of the steps' questions.
QString qsError_Heading();
QString qsWarning_Heading();

// Why a volume is not known to lie on the polled device: no device was polled.
QString qsDrive_Not_Polled_Why();
// Where the file system does not say where the fill lies (qsWhy) and the read found it.
QString qsPlacement_Inferred_Why(const QString &qsWhy);
// The device stopped answering: nothing more is known of it.
QString qsDevice_Stopped_Why();
// A stopped read: qsUnread (its size, its share of qsPlanned) was never reached, at qsWhere.
QString qsRead_Unread_Text(const QString &qsUnread, const QString &qsShare, const QString &qsPlanned,
                           const QString &qsWhere);
// Readers still in the medium after a stop were left behind.
QString qsRead_Abandoned_Text();
// The words of the fill not found after a stopped read, with their count (qsCount): where
// their places are known and were not read (bPlaced), or may lie in what was not read.
QString qsWords_Not_Read_Text(const bool bPlaced, const QString &qsCount);
// A stopped fill did not wait for the file system to flush its file.
QString qsFill_Closing_Aside_Text();
// Writers that had not come back when the fill stopped were left behind; after the operator's
// stop the medium is not blamed for it, since it may only be slow.
QString qsFill_Abandoned_Text(const bool bOperator_Stop);
// A read found fewer words in the fill's files than the fill wrote into qsPath.
QString qsFill_Lost_Text(const quint64 qui64Written, const QString &qsPath, const quint64 qui64Now);

// Why a volume's or a file's place on the device is not known (Functions_Topology).
QString qsNot_Mounted_Why();
QString qsBtrfs_Devices_Why();
QString qsNo_Medium_Why(const QString &qsType);
QString qsUnknown_Source_Why(const QString &qsType, const QString &qsSource);
QString qsDevice_Not_Target_Why();
QString qsVolume_Elsewhere_Why(const QString &qsOn, const QString &qsDevice);
QString qsNot_Simple_Part_Why(const QString &qsPart, const QString &qsDevice);
QString qsFuse_Unplaced_Why();
// The volume's driver says it has no blocks, and its size cannot be read from the device.
QString qsVolume_No_Blocks_Why();
QString qsFiemap_Failed_Why(const QString &qsReason);
QString qsExtents_Encoded_Why();
QString qsExtents_Unaligned_Why();
// Why the file system's own structures on the device do not say where the fill lies
// (Functions_Tsk, Functions_Btrfs), or why they cannot be read now.
QString qsTsk_Failed_Why(const QString &qsDevice, const QString &qsReason);
QString qsFuse_No_Device_Why(const QString &qsType, const QString &qsDevice);
QString qsSync_Failed_Why(const QString &qsPath, const QString &qsReason);
QString qsBtrfs_Profile_Why();
QString qsBtrfs_Chunks_Failed_Why(const QString &qsReason);
QString qsBtrfs_Unmapped_Why(const quint64 qui64Logical);
// How the placement was learnt, for the text beside the counts.
QString qsPlacement_Source_Text(const QString &qsSource);
// Why a file is not to be saved where asked: it would overwrite what is being checked.
QString qsOutput_Is_Medium_Why();
QString qsOutput_On_Volume_Why(const QString &qsVolume);

// Why a name is not a file the program may write or remove.
QString qsSymbolic_Link_Why();
QString qsNot_Regular_Why();
QString qsHard_Links_Why();
// Why the clean leaves a file of a fill name: it does not start as a fill does, or its words
// do not go on from the files of the fill before it.
QString qsNot_Fill_Words_Why();
QString qsNot_Following_Why();
// The clean's failure when another run holds the volume.
QString qsClean_Busy_Text(const QString &qsVolume, const QString &qsWhy);
// The clean found names of the fill, but none of them was the fill's to remove.
QString qsClean_None_Removed_Text();
// The read's failure when the volume is no longer the one polled (qsWhy names it).
QString qsRead_Volume_Changed_Text(const QString &qsWhy);

// The volume's lock: another run holds it (its PID when known, else 0), or the volume went.
QString qsVolume_Busy_Why(const qint64 qi64Holder);
QString qsVolume_Gone_Why(const QString &qsPath, const QString &qsReason);
QString qsVolume_Moved_Why(const QString &qsPath);

// The fill: its progress, the question at the first loss the checks see (at qui64At bytes),
// why it stopped without a number from the system, and what to do first where nobody polled.
QString qsFill_Progress_Title();
QString qsFill_Progress_Text(const QString &qsPath);
QString qsLoss_Question(const quint64 qui64At);
QString qsFile_Removed_Why(const QString &qsPath);
QString qsFile_Elsewhere_Why(const QString &qsPath);
QString qsNothing_Written_Why(const QString &qsReason);
// Why a fill ended before its volume was full, for the read that checks what it wrote: a
// write refused with the system's reason, a stop asked, a loss seen, or no room said while
// qui64Free_Left bytes were still free.
QString qsStopped_By_Error_Why(const QString &qsReason);
QString qsStopped_By_Operator_Why();
QString qsStopped_At_Loss_Why();
QString qsStopped_Space_Left_Why(const quint64 qui64Free_Left);
// The file system's structures on the device hold qui64On_Device of the qui64Written bytes of
// the fill in qsVolume: its driver has not written the rest yet, so the medium cannot be judged.
QString qsFill_Unwritten_Why(const QString &qsVolume, const quint64 qui64On_Device, const quint64 qui64Written);
QString qsPoll_First_Quiet();

// The window's check asks before it fills: how much the fill takes of qsVolume, and how long the
// read of qui64Device bytes takes at the rate measured (qui64Sample bytes in qi64Sample_Ms; 0 bytes:
// not measured, qsWhy says why).
QString qsFill_Ask_Heading(const QString &qsVolume);
QString qsFill_Ask_Text(const quint64 qui64Free, const quint64 qui64Device, const quint64 qui64Sample,
                        const qint64 qi64Sample_Ms, const QString &qsWhy);

// The window's panel: what is checked (the device and the volume directory), what the poll
// found, and what the fill wrote (qsHeading: how it ended).
QString qsTarget_Text(const QString &qsDevice, const QString &qsVolume);
QString qsPoll_Done_Text(const quint64 qui64Device, const quint64 qui64Volume, const quint64 qui64Free);
QString qsFill_Done_Text(const QString &qsHeading, const quint64 qui64Written);

// Fill words on the device besides the file's own in their places (qui64Other), of which
// qui64Copies are second copies of words found (the same word found more than once).
QString qsOther_Words_Text(const quint64 qui64Other, const quint64 qui64Copies);

// The drive probe's boxes.
QString qsDrive_Open_Failure(const QString &qsDrive, const QString &qsReason);
QString qsDrive_Is_Directory(const QString &qsDrive, const QString &qsReason);
// A block device the system gives as 0 bytes: nothing attached, no medium, pulled out.
QString qsDrive_Empty(const QString &qsDrive);

// The raw read: what it cannot read, and its progress.
QString qsNot_Device_Why();
// The device the poll saw is 0 bytes now: detached or pulled out.
QString qsDevice_Gone_Why();
QString qsRead_Progress_Title();
QString qsRead_Progress_Text(const QString &qsDevice);

// The command runner's failures, for the command line qsProcess.
QString qsProcess_Not_Started(const QString &qsProcess, const QString &qsReason);
QString qsProcess_Timed_Out(const QString &qsProcess, const int iSeconds);
QString qsProcess_Crashed(const QString &qsProcess);
QString qsProcess_Failed(const QString &qsProcess, const int iExit_Code);

// What the launcher shows when pkexec could not start the tool as root: why the tool needs
// administrator rights, how to get them, and what failed (qsReason, empty when unknown).
QString qsRoot_Heading();
QString qsRoot_Text(const QString &qsReason);

// A window mode started where no display is: what is needed, and batch mode instead.
QString qsNo_Display_Text();

// The medium probe (Functions_Probe_Medium): why it cannot run or stopped, its progress's title.
QString qsProbe_No_Prealloc_Why(const QString &qsVolume);
QString qsProbe_No_Extents_Why();
QString qsProbe_Name_Taken_Why(const QString &qsPath);
QString qsProbe_File_Changed_Why(const QString &qsFile);
QString qsProbe_Device_Changed_Why(const QString &qsDevice);
QString qsProbe_Progress_Title();
// The fill after a probe that found a fake keeping nothing beyond qui64Usable (0: not known,
// the medium refuses writes): not run.
QString qsFill_After_Fake_Text(const quint64 qui64Usable);
// The window's offer of the probe after «1. Опрос».
QString qsProbe_Ask_Heading();
QString qsProbe_Ask_Text();
// The window's question after such a probe: stop there, or fill the whole volume all the same.
QString qsFill_After_Fake_Ask_Heading(const QString &qsVolume);
QString qsFill_After_Fake_Ask_Text(const quint64 qui64Usable);

#endif // FUNCTIONS_REPORT_TEXTS_H
