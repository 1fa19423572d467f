/* A stand-in for the SNC stream libraries, built by the loader test: every entry point of
   libsncstrm.so (KX_FAKE_STREAM) or libsnccore.so (KX_FAKE_CORE), except the one named by
   KX_LEAVE_OUT_<name> when that is defined. */
#include <stdint.h>

#define KX_ENTRY(name) int32_t name(void) { return 0; }

#ifdef KX_FAKE_STREAM
KX_ENTRY(sncGetLibraryVersion) KX_ENTRY(sncOpenHandle) KX_ENTRY(sncCloseHandle) KX_ENTRY(sncCloseAllHandle)
KX_ENTRY(sncGetCurrentFrameNum) KX_ENTRY(sncResetAudioMemory) KX_ENTRY(sncSetFrameRate) KX_ENTRY(sncStepFrame)
KX_ENTRY(sncSetPause) KX_ENTRY(sncSetCallBack) KX_ENTRY(sncSetRawDataType) KX_ENTRY(sncSetVideoDecodeOpt)
KX_ENTRY(sncSetMessageDecodeFinish) KX_ENTRY(sncSetMessageSplitFinish) KX_ENTRY(sncSetMessageEnd)
KX_ENTRY(sncEnableVideoStream) KX_ENTRY(sncEnableAudioStream) KX_ENTRY(sncEnableVideoDecode)
KX_ENTRY(sncEnableAudioDecode) KX_ENTRY(sncEnableVideoPlay) KX_ENTRY(sncEnableAudioPlay) KX_ENTRY(sncStart)
KX_ENTRY(sncStop) KX_ENTRY(sncGetVideoCodecInfo) KX_ENTRY(sncGetAudioCodecInfo) KX_ENTRY(sncGetCurrentDecVideo)
KX_ENTRY(sncGetCurrentRawVideo) KX_ENTRY(sncGetCurrentDecAudio) KX_ENTRY(sncGetCurrentRawAudio)
KX_ENTRY(sncSetAudioVolume) KX_ENTRY(sncGetAudioVolume) KX_ENTRY(sncSetAudioMute) KX_ENTRY(sncGetAudioMute)
KX_ENTRY(sncCreateScreen) KX_ENTRY(sncSetScreenPos) KX_ENTRY(sncSetNetwork) KX_ENTRY(sncGetNetworkSetting)
KX_ENTRY(sncSetVideoCodec) KX_ENTRY(sncSetJPEGInterval) KX_ENTRY(sncGetCameraInfo) KX_ENTRY(sncSendCGICommand)
KX_ENTRY(sncSetMemory) KX_ENTRY(sncGetMemorySetting) KX_ENTRY(sncWriteVideoStream) KX_ENTRY(sncWriteAudioStream)
KX_ENTRY(sncInitialize) KX_ENTRY(sncFinalize)
#ifndef KX_LEAVE_OUT_sncFinalizeAll
KX_ENTRY(sncFinalizeAll)
#endif
#endif

#ifdef KX_FAKE_CORE
int32_t sncOpenCameraHandle(void) { return 42; }
KX_ENTRY(sncCloseCameraHandle) KX_ENTRY(sncCloseAllCameraHandle) KX_ENTRY(snccSetNetwork)
KX_ENTRY(snccGetNetworkSetting) KX_ENTRY(snccGetMemorySetting) KX_ENTRY(snccGetLibraryVersion)
#ifndef KX_LEAVE_OUT_snccSetMemory
KX_ENTRY(snccSetMemory)
#endif
#endif
