// The global lumvara.js defines for a page: LumvaraControl, whose create()
// gives a control with the methods, properties and events of the type
// library (lumvara.d.ts, generated from it, beside this file).

type LumvaraControlInstance = import("./lumvara").Lumvara & {
  /** The canvas the control's pictures are painted on. */
  readonly canvas: HTMLCanvasElement;
  /** Pictures painted so far, and the last one's delay from the host in ms. */
  readonly paints: number;
  readonly lastPaintDelay: number;
  /** The last picture's delay in ms from its camera frame reaching the player; 0 when it showed no frame. */
  readonly lastFrameDelay: number;
  onpaint: ((sequence: number, delayMs: number, frameDelayMs: number) => void) | null;
  /** PlayVideo on the camera the host was started with (--demo-camera). */
  playDemo(): Promise<number>;
  /** The control's property page drawn at width x height device pixels (default 400 x 160). */
  propertyPage(width?: number, height?: number): Promise<LumvaraPropertyPage>;
  /** Tears the control down (its StopVideo path) and removes its canvas. */
  destroy(): Promise<void>;
};

interface LumvaraPropertyPage {
  caption: string;
  width: number;
  height: number;
  /** The page's picture, a JPEG. */
  picture: Blob;
}

interface LumvaraRecordQuery {
  ip: string;
  port: number;
  user: string;
  pwd: string;
  /** "YYYY-MM-DDTHH:MM" or with ":SS" */
  from: string;
  to: string;
}

declare const LumvaraControl: {
  create(element: HTMLElement): Promise<LumvaraControlInstance>;
  records(query: LumvaraRecordQuery): Promise<Array<{ name: string; size: number }>>;
};
