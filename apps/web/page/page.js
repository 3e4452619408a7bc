// The player page: its parts, then the demo's runtime, which calls into them.
import { startRuntime } from './loading.js';
import './layout.js';
import './controls.js';

startRuntime();
