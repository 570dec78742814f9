// A page script that uses every method, property and event of the control
// as lumvara.js presents it; compiling it checks the declarations.
async function usesEveryMember(element: HTMLElement): Promise<void> {
  const ctl = await LumvaraControl.create(element);
  ctl.onMessageNotify = (lType: number, lParame: number) => console.log(lType, lParame);
  ctl.onOnCameraSearched = (iStatus, pszDevName, pszIpAddr, iPort, iCmdPort, iDataPort, iIsSameSubNet) =>
    console.log(iStatus, pszDevName.length, pszIpAddr.length, iPort + iCmdPort + iDataPort + iIsSameSubNet);
  ctl.addEventListener("MessageNotify", (e) => console.log(e.detail.lType + e.detail.lParame));
  ctl.addEventListener("OnCameraSearched", (e) => console.log(e.detail.pszIpAddr.toUpperCase()));

  const results: number[] = [
    await ctl.PlayVideo("admin", "", "127.0.0.1", 8081, 0, 0),
    await ctl.StopVideo(),
    await ctl.SetFocus(1),
    await ctl.CapturePic(),
    await ctl.OpenSound(),
    await ctl.CloseSound(),
    await ctl.StartTalk(),
    await ctl.StopTalk(),
    await ctl.StartRecord(),
    await ctl.StopRecord(),
    await ctl.SetFlip(1),
    await ctl.SetOsd("text"),
    await ctl.RemoveOsd(),
    await ctl.SdRecordFilePlay("admin", "", "127.0.0.1", 8081, "file.264", 0),
    await ctl.SdRecordFileSetPos(1000),
    await ctl.SdRecordFileStop(),
    await ctl.SetAlias("door"),
    await ctl.GetVersion(),
    await ctl.playDemo(),
  ];
  await ctl.ShowMax();
  await ctl.ShowNormal();
  await ctl.SetPath();
  await ctl.OnSearchCameras();
  await ctl.UpdataSize();
  await ctl.SetRecordProperty(100, 5, 200, 1);

  ctl.RecFileLen = 10;
  const states: number[] = [ctl.SoundState, ctl.TalkState, ctl.RecordState, ctl.VideoState, ctl.RecFileLen,
    ctl.RecTimeLen, ctl.ReservedSpace, ctl.RecCover];
  const path: string = ctl.RecFilePath;
  const files = await LumvaraControl.records({ ip: "127.0.0.1", port: 8081, user: "admin", pwd: "",
    from: "2026-12-01T00:00", to: "2026-12-31T23:59" });
  const page = await ctl.propertyPage(400, 160);
  const caption: string = page.caption;
  console.log(results.length, states.length, path, files.map((f) => f.name + f.size), ctl.canvas.width,
    caption, page.picture.size + page.width + page.height, ctl.lastFrameDelay);
  await ctl.destroy();
}

void usesEveryMember;
